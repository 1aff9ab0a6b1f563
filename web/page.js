// The page: the program's window as a black panel whose progress display follows the render in
// the worker (render-worker.js), then the piece through WebAudio while the title pulses. Beyond
// the program: scores dropped or chosen, a time line with pause, seek and repeat, the render as
// a WAV file and the records as text.
//
// The page keeps an engine of its own on its thread for what must answer at once: whether a
// score can be read (in the command line's words), its records as text, the title's green level
// and the icon. The worker's engine does the long work.
//
// URL options, for measuring: ?simd=scalar (or simd128) picks the vector path, ?literal=1 the
// literal render.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const ui = {
    title: $('LabQuom'),
    time: $('labTime'),
    percent: $('labProgress'),
    bar: $('ShProg'),
    start: $('start'),
    play: $('play'),
    timeline: $('timeline'),
    clock: $('clock'),
    repeat: $('repeat'),
    score: $('score'),
    wav: $('wav'),
    records: $('records'),
    message: $('message'),
    drop: $('drop'),
  };
  const params = new URLSearchParams(location.search);
  const kSampleRate = 44100;
  const kSeekSeconds = 5;  // what an arrow key moves, as on the terminal

  let engine = null;  // the page's own engine module
  let session = 0;
  let worker = null;
  let job = null;      // the score being rendered or last rendered: {name, bytes, base}
  let rendering = false;
  let piece = null;    // the last render: {pcm: ArrayBuffer, frames, buffer: AudioBuffer, base}
  let lastRender = null;
  let renders = 0;     // finished so far
  let failure = '';    // why the worker's engine last stopped

  // Playback. The piece starts at `startedAt` on the audio clock; `offset` is the position
  // while nothing plays.
  const audio = new AudioContext({sampleRate: kSampleRate});
  const analyser = audio.createAnalyser();
  analyser.connect(audio.destination);
  let source = null;
  let startedAt = 0;
  let offset = 0;
  let state = 'idle';  // rendering, waiting (for a gesture), playing, paused, stopped, ended
  // The title pulse runs on the page's clock from the start of playback, less the pauses.
  let pulseStart = 0;
  let pausedAt = 0;
  let seeking = false;

  const now = () => performance.now() / 1000;

  function say(text, kind) {
    ui.message.textContent = text;
    ui.message.className = kind || '';
  }

  // --- The panel ---------------------------------------------------------------------------

  // As the window starts: "Prepare", two empty captions, the 135-twip bar and the title unseen.
  function resetPanel() {
    ui.bar.style.width = '9px';
    ui.percent.textContent = '';
    ui.time.textContent = '';
    setTitleGreen(0);
  }

  function setTitleGreen(g) {
    ui.title.style.color = `rgb(0, ${g}, 0)`;
  }

  function showProgress(bar, percent, time) {
    ui.bar.style.width = Math.max(1, bar) + 'px';  // the shape keeps its one-pixel outline
    ui.percent.textContent = percent;
    ui.time.textContent = time;
  }

  // --- The render --------------------------------------------------------------------------

  function startWorker() {
    worker = new Worker('render-worker.js');
    worker.onmessage = (event) => {
      const m = event.data;
      if (m.type === 'progress') {
        showProgress(m.bar, m.percent, m.time);
      } else if (m.type === 'rendered') {
        rendering = false;
        rendered(m);
      } else if (m.type === 'refused') {
        rendering = false;
        state = 'idle';
        say('quom: ' + m.message);
        updateControls();
      } else if (m.type === 'failed') {
        rendering = false;
        state = 'idle';
        failure = m.message;
        say('quom: ' + m.message);
        worker.terminate();
        worker = null;
        updateControls();
      }
    };
  }

  // Renders `next` (the piece when its name is null), leaving what played before.
  function render(next) {
    stopSound();
    if (rendering) {
      worker.terminate();  // the one way to end a render early
      worker = null;
    }
    if (!worker) startWorker();
    job = next;
    piece = null;
    rendering = true;
    state = 'rendering';
    resetPanel();
    offset = 0;
    updateControls();
    worker.postMessage({
      name: next.name,
      bytes: next.bytes,
      simd: params.get('simd') || '',
      literal: params.get('literal') === '1',
    });
  }

  function rendered(m) {
    const pcm = new Int16Array(m.pcm);
    const buffer = audio.createBuffer(2, Math.max(m.frames, 1), kSampleRate);
    const left = buffer.getChannelData(0);
    const right = buffer.getChannelData(1);
    // Exact: every 16-bit value over 32768 is a float.
    for (let i = 0; i < m.frames; ++i) {
      left[i] = pcm[2 * i] / 32768;
      right[i] = pcm[2 * i + 1] / 32768;
    }
    piece = {pcm: m.pcm, frames: m.frames, buffer, base: job.base};
    lastRender = {seconds: m.seconds, simd: m.simd, frames: m.frames};
    ++renders;
    offerFile(ui.wav, new Blob([wavHeader(m.frames), m.pcm], {type: 'audio/wav'}), job.base + '.wav');
    ui.timeline.max = String(m.frames / kSampleRate);
    state = 'stopped';
    startWhenAllowed();
  }

  // --- Sound -------------------------------------------------------------------------------

  function duration() {
    return piece ? piece.frames / kSampleRate : 0;
  }

  function position() {
    if (state !== 'playing') return offset;
    const d = duration();
    const p = audio.currentTime - startedAt;
    return d > 0 ? p % d : 0;  // past the end only when it repeats
  }

  // Plays from the start unless the browser wants a gesture first: then the start button shows.
  async function startWhenAllowed() {
    if (audio.state !== 'running') {
      // A browser that allows sound resumes at once; one that wants a gesture leaves the
      // promise pending until there is one.
      await Promise.race([audio.resume(), new Promise((r) => setTimeout(r, 200))]);
    }
    if (state !== 'stopped' || !piece) return;
    if (audio.state === 'running') {
      playFrom(0);
    } else {
      state = 'waiting';
      updateControls();
    }
  }

  function playFrom(at) {
    stopSound();
    const s = audio.createBufferSource();
    s.buffer = piece.buffer;
    s.loop = ui.repeat.checked;
    s.connect(analyser);
    s.onended = () => {
      if (source !== s) return;  // stopped on purpose
      source = null;
      state = 'ended';
      offset = 0;
      setTitleGreen(0);
      updateControls();
    };
    startedAt = audio.currentTime - at;
    s.start(0, at);
    source = s;
    if (state !== 'paused') pulseStart = now();
    else pulseStart += now() - pausedAt;
    state = 'playing';
    updateControls();
    requestAnimationFrame(tick);
  }

  function stopSound() {
    if (!source) return;
    const s = source;
    source = null;
    s.stop();
    s.disconnect();
  }

  function pause() {
    offset = position();
    stopSound();
    pausedAt = now();
    state = 'paused';
    updateControls();
  }

  // Esc: the sound stops (and a render ends), as the program ends.
  function stop() {
    if (rendering) {
      worker.terminate();
      worker = null;
      rendering = false;
      state = 'idle';
    }
    stopSound();
    if (state !== 'idle') state = 'stopped';
    offset = 0;
    setTitleGreen(0);
    updateControls();
  }

  function toggle() {
    if (state === 'playing') {
      pause();
    } else if (piece && state !== 'rendering') {
      audio.resume();
      playFrom(offset);
    } else if (!piece && !rendering && job) {
      render(job);
    }
  }

  function seek(to) {
    if (!piece) return;
    const d = duration();
    let at = Math.max(0, Math.min(to, d));
    if (at >= d) at = ui.repeat.checked ? 0 : d;
    if (state === 'playing') {
      if (at >= d) {
        stopSound();
        source = null;
        state = 'ended';
        offset = 0;
        setTitleGreen(0);
        updateControls();
      } else {
        playFrom(at);
      }
    } else {
      offset = at;
      updateControls();
    }
  }

  // Once a frame while playing: the title's green level and the time line.
  function tick() {
    if (state !== 'playing') return;
    setTitleGreen(engine._quom_pulse_green(now(), pulseStart));
    if (!seeking) ui.timeline.value = String(position());
    ui.clock.textContent = clockText(position());
    requestAnimationFrame(tick);
  }

  function clockText(at) {
    const mmss = (s) => {
      const whole = Math.floor(s);
      return Math.floor(whole / 60) + ':' + String(whole % 60).padStart(2, '0');
    };
    return mmss(at) + ' / ' + mmss(duration());
  }

  function updateControls() {
    const playing = state === 'playing';
    ui.play.disabled = !piece && !(job && !rendering);
    ui.play.innerHTML = playing ? '&#10074;&#10074;' : '&#9654;';
    ui.timeline.disabled = !piece;
    ui.start.hidden = state !== 'waiting';
    if (!playing) {
      ui.timeline.value = String(offset);
      ui.clock.textContent = clockText(offset);
    }
    ui.wav.hidden = !piece;
  }

  // --- Files -------------------------------------------------------------------------------

  // A 16-bit stereo WAV header for `frames` frames at 44,100 Hz.
  function wavHeader(frames) {
    const data = frames * 4;
    const h = new DataView(new ArrayBuffer(44));
    const tag = (at, text) => [...text].forEach((c, i) => h.setUint8(at + i, c.charCodeAt(0)));
    tag(0, 'RIFF');
    h.setUint32(4, 36 + data, true);
    tag(8, 'WAVE');
    tag(12, 'fmt ');
    h.setUint32(16, 16, true);
    h.setUint16(20, 1, true);  // PCM
    h.setUint16(22, 2, true);
    h.setUint32(24, kSampleRate, true);
    h.setUint32(28, kSampleRate * 4, true);
    h.setUint16(32, 4, true);
    h.setUint16(34, 16, true);
    tag(36, 'data');
    h.setUint32(40, data, true);
    return h.buffer;
  }

  function offerFile(link, blob, name) {
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.hidden = false;
  }

  function baseName(name) {
    const dot = name.lastIndexOf('.');
    return (dot > 0 ? name.slice(0, dot) : name) || 'score';
  }

  // Reads a score with the page's engine: the records as text, or why it cannot be played.
  function check(name, bytes) {
    const m = engine;
    let at = 0;
    let namePtr = 0;
    if (name !== null) {
      const size = m.lengthBytesUTF8(name) + 1;
      namePtr = m._malloc(size);
      m.stringToUTF8(name, namePtr, size);
      at = m._malloc(Math.max(bytes.byteLength, 1));
      m.HEAPU8.set(new Uint8Array(bytes), at);
    }
    const ok = m._quom_load(session, namePtr, at, name === null ? 0 : bytes.byteLength);
    m._free(at);
    m._free(namePtr);
    const result = {
      ok: ok === 1,
      error: m.UTF8ToString(m._quom_error(session)),
      warning: m.UTF8ToString(m._quom_warning(session)),
      text: ok ? m.UTF8ToString(m._quom_score_text(session)) : '',
    };
    m._quom_unload(session);  // the page's engine keeps no records
    return result;
  }

  async function open(file) {
    if (!engine) return;
    let bytes;
    try {
      // One byte past the most a score may be is enough to refuse a larger file.
      bytes = await file.slice(0, engine._quom_max_score_bytes() + 1).arrayBuffer();
    } catch (error) {
      say(`quom: cannot read score '${file.name}': ${error.message}`);
      return;
    }
    const read = check(file.name, bytes);
    if (!read.ok) {
      say('quom: ' + read.error);  // what plays goes on
      return;
    }
    say(read.warning ? 'quom: warning: ' + read.warning : '', 'warning');
    const base = baseName(file.name);
    offerFile(ui.records, new Blob([read.text], {type: 'text/plain'}), base + '.txt');
    render({name: file.name, bytes, base});
  }

  // --- Events ------------------------------------------------------------------------------

  // Sound may start late: a browser that allows it may take a while to say so, and one that
  // wanted a gesture has had one.
  audio.addEventListener('statechange', () => {
    if (audio.state === 'running' && state === 'waiting') playFrom(0);
  });
  ui.start.addEventListener('click', () => audio.resume());
  ui.play.addEventListener('click', toggle);
  ui.repeat.addEventListener('change', () => {
    if (source) source.loop = ui.repeat.checked;
  });
  ui.timeline.addEventListener('pointerdown', () => (seeking = true));
  ui.timeline.addEventListener('pointerup', () => (seeking = false));
  ui.timeline.addEventListener('input', () => {
    ui.clock.textContent = clockText(Number(ui.timeline.value));
  });
  ui.timeline.addEventListener('change', () => {
    seeking = false;
    seek(Number(ui.timeline.value));
  });
  ui.score.addEventListener('change', () => {
    if (!ui.score.files.length) return;
    // Emptied once read, so that choosing the same file again is a new choice.
    open(ui.score.files[0]).finally(() => (ui.score.value = ''));
  });

  // Any gesture lets the sound start, so that a piece that finishes rendering later needs no
  // button; one that is waiting starts at once.
  const allowSound = () => {
    if (audio.state !== 'running') audio.resume();
  };
  document.addEventListener('pointerdown', allowSound, true);

  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      stop();
      return;
    }
    allowSound();
    const target = event.target;
    const typing = target instanceof HTMLInputElement || target instanceof HTMLButtonElement;
    if (event.key === ' ' && !typing) {
      event.preventDefault();
      toggle();
    } else if ((event.key === 'ArrowLeft' || event.key === 'ArrowRight') && target !== ui.timeline) {
      event.preventDefault();
      seek(position() + (event.key === 'ArrowRight' ? kSeekSeconds : -kSeekSeconds));
    }
  });

  let dragDepth = 0;
  document.addEventListener('dragenter', (event) => {
    if (!event.dataTransfer.types.includes('Files')) return;
    ++dragDepth;
    ui.drop.hidden = false;
  });
  document.addEventListener('dragleave', () => {
    if (--dragDepth <= 0) {
      dragDepth = 0;
      ui.drop.hidden = true;
    }
  });
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    ui.drop.hidden = true;
    const files = event.dataTransfer.files;
    if (files.length) open(files[0]);
  });

  // --- Start -------------------------------------------------------------------------------

  // The window's icon as the page's.
  function showIcon() {
    const size = 32;
    const at = engine._quom_icon(session, size);
    const rgba = new Uint8ClampedArray(engine.HEAPU8.slice(at, at + size * size * 4));
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = size;
    canvas.getContext('2d').putImageData(new ImageData(rgba, size), 0, 0);
    document.querySelector('link[rel=icon]').href = canvas.toDataURL();
  }

  // What the tests and the curious may read.
  window.quom = {
    get state() {
      return state;
    },
    get pcm() {
      return piece ? piece.pcm : null;
    },
    get audioBuffer() {
      return piece ? piece.buffer : null;
    },
    get lastRender() {
      return lastRender;
    },
    get renders() {
      return renders;
    },
    get failure() {
      return failure;
    },
    get position() {
      return position();
    },
    analyser,
    audio,
  };

  resetPanel();
  updateControls();
  createQuom({print: () => {}, printErr: () => {}}).then((m) => {
    engine = m;
    session = m._quom_open();
    showIcon();
    const embedded = check(null, null);
    offerFile(ui.records, new Blob([embedded.text], {type: 'text/plain'}), 'quom-score.txt');
    render({name: null, bytes: null, base: 'quom'});
  }, (error) => {
    say('quom: this browser cannot run the engine: ' + error);
  });
})();
