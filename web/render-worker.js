// The render worker: the engine synthesises here, off the page's thread, so that the page stays
// responsive. The page sends one job at a time:
//
//   {name, bytes, simd, literal}   a score file's name and bytes (name null: the piece); simd
//                                  names a vector path ('' for the widest), literal picks the
//                                  literal render
//
// and hears back, in order:
//
//   {type: 'progress', bar, percent, time}    a refresh of the progress display: the bar's
//                                             width in pixels and the two captions
//   {type: 'rendered', pcm, frames, seconds, simd}
//                                             the PCM as interleaved 16-bit little-endian
//                                             stereo, and the render's time
//   {type: 'refused', message}                the score, or the vector path, cannot be rendered
//   {type: 'failed', message}                 the engine stopped (out of memory, say); the page
//                                             starts another worker
//
// The page cancels a render by ending the worker.
'use strict';

importScripts('quom.js');

let engine = null;
let session = 0;

const ready = createQuom({
  onProgress: (bar, percent, time) => postMessage({type: 'progress', bar, percent, time}),
  onAbort: (what) => postMessage({type: 'failed', message: 'the engine stopped: ' + (what || 'aborted')}),
  print: () => {},
  printErr: () => {},
}).then((m) => {
  engine = m;
  session = m._quom_open();
}, (error) => {
  postMessage({type: 'failed', message: 'this browser cannot run the engine: ' + error});
  throw error;
});

// A string in the engine's memory, freed by the caller.
function cString(m, text) {
  const size = m.lengthBytesUTF8(text) + 1;
  const at = m._malloc(size);
  m.stringToUTF8(text, at, size);
  return at;
}

function render(job) {
  const m = engine;
  let name = 0;
  let bytes = 0;
  let size = 0;
  if (job.name !== null) {
    name = cString(m, job.name);
    size = job.bytes.byteLength;
    bytes = m._malloc(Math.max(size, 1));
    m.HEAPU8.set(new Uint8Array(job.bytes), bytes);
  }
  const loaded = m._quom_load(session, name, bytes, size);
  m._free(bytes);
  m._free(name);
  if (!loaded) {
    postMessage({type: 'refused', message: m.UTF8ToString(m._quom_error(session))});
    return;
  }

  const simd = cString(m, job.simd || '');
  const start = performance.now();
  const frames = m._quom_render(session, simd, job.literal ? 1 : 0);
  const seconds = (performance.now() - start) / 1000;
  m._free(simd);
  if (frames < 0) {
    const paths = m.UTF8ToString(m._quom_simd_paths());
    postMessage({type: 'refused', message: `'${job.simd}' is not a vector path; this engine runs ${paths}`});
    return;
  }
  // Read the memory only now: the render may have grown it, and with it replaced HEAPU8.
  const at = m._quom_pcm(session);
  const pcm = m.HEAPU8.slice(at, at + frames * 4).buffer;
  m._quom_drop_pcm(session);
  const widest = m.UTF8ToString(m._quom_simd_paths()).split(', ').pop();
  postMessage({type: 'rendered', pcm, frames, seconds, simd: job.simd || widest}, [pcm]);
}

onmessage = (event) => {
  ready.then(() => {
    try {
      render(event.data);
    } catch (error) {
      // A fault inside the engine: it may be in any state, so the page starts another worker.
      postMessage({type: 'failed', message: 'the engine stopped: ' + error});
    }
  });
};
