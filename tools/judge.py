#!/usr/bin/env python3
"""Judges a note list and its render the way a producer would listen for faults.

    tools/judge.py resources/score.txt piece.wav
    tools/judge.py score.txt piece.wav --bus stems/mix-wet.wav   also the levels before the master
    tools/judge.py old.txt old.wav --composer old_compose.py   judge another version by its own chart

It reads the score text (as `quom --print-score` or tools/compose.py write it), the 16-bit WAV
that `quom --wav` renders from it and, for the chord chart, the form and the time grid, the
composing script (by default tools/compose.py beside this file; pass the script that wrote the
score when judging an older version). Standard library only.

What it prints, section by section of the form:
  harmony     share of tonal note-time in F sharp minor and on the bar's chord, per part; the
              lead's harmony notes (those under its melody) that miss the chord
  clashes     sounding note pairs a minor second, major seventh or tritone apart
  repetition  bars of the tune that repeat an earlier bar note for note, the commonest arpeggio
              figure, kit bar and stab rhythm, distinct fills, the longest stretch in which
              groove, arpeggio and stabs stay the same, the tune's commonest bar opening
  lead        onsets off the beat, lengths, range, where its top note is reached
  cadences    the lead's last note of every section and the top note of the last chord
  register    range and centre of each part, bass roots, very low notes, the C3-F#3 band, the
              arpeggio at or above the lead
  levels      RMS, peak and loudness per section after the master (and before it with --bus),
              samples beyond the soft clipper's knee, near full scale, the largest jump between
              neighbouring samples
"""

import argparse
import array
import math
import os
import runpy
import statistics
import struct
import sys
import wave
from collections import Counter, defaultdict

PLUCK, LEAD, COUNTER, BASS, KIT = 25, 24, 26, 32, 127
TONAL = (PLUCK, LEAD, COUNTER, BASS)
PART_NAMES = {PLUCK: "arpeggio", LEAD: "lead", COUNTER: "stabs/counter", BASS: "bass"}
KICK, SNARE, BELL, CLOSED_HAT, OPEN_HAT, LOW_CRASH, CRASH = 36, 38, 59, 61, 63, 67, 69
CRASHES = (CRASH, LOW_CRASH)

TONIC = 6  # F sharp
F_SHARP_MINOR = {6, 8, 9, 11, 1, 2, 4}
NAMES = ("C", "C#", "D", "D#", "E", "E#", "F#", "G", "G#", "A", "A#", "B")
DISSONANT = {1, 6, 11}  # minor second, tritone, major seventh (and their octaves)

SAMPLE_RATE = 44100
KNEE = 32000  # the soft clipper bends samples beyond this
NEAR_FULL = 32700
BUS_SCALE = 200000.0  # one unit of the mix bus is this many 16-bit units


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


SEC_PER_TICK = single(4.0 / 110.0)


def tick_frame(t):
    return round(single(t * SEC_PER_TICK) * SAMPLE_RATE)


def name(note):
    return f"{NAMES[note % 12]}{note // 12 - 1}"


def pct(part, whole):
    return f"{100.0 * part / whole:.1f} %" if whole else "-"


# ---------------------------------------------------------------- inputs

def read_score(path):
    notes = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line:
                s, l, n, v, c = (int(x) for x in line)
                notes.append((s, l, n, v, c))
    return notes


def read_pcm(path):
    """16-bit stereo WAV -> (left, right) as arrays of ints."""
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2:
            sys.exit(f"{path}: want 16-bit stereo")
        data = array.array("h")
        data.frombytes(w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        data.byteswap()
    return data[0::2], data[1::2]


def read_bus(path):
    """The mix bus as `quom --stems` writes it (32-bit float, L R Send) -> (left, right), scaled
    to 16-bit units as the master stage scales them."""
    with open(path, "rb") as f:
        blob = f.read()
    if blob[:4] != b"RIFF" or blob[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file")
    pos, tag, channels, bits, data = 12, 0, 0, 0, None
    while pos + 8 <= len(blob):
        cid, size = blob[pos:pos + 4], struct.unpack("<I", blob[pos + 4:pos + 8])[0]
        body = blob[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            tag, channels = struct.unpack("<HH", body[0:4])
            bits = struct.unpack("<H", body[14:16])[0]
            if tag == 0xFFFE:  # extensible: the format is the subformat's first two bytes
                tag = struct.unpack("<H", body[24:26])[0]
        elif cid == b"data":
            data = body
        pos += 8 + size + (size & 1)
    if tag != 3 or bits != 32 or channels < 2 or data is None:
        sys.exit(f"{path}: want 32-bit float with at least two channels")
    values = array.array("f")
    values.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder != "little":
        values.byteswap()
    left = array.array("d", (x * BUS_SCALE for x in values[0::channels]))
    right = array.array("d", (x * BUS_SCALE for x in values[1::channels]))
    return left, right


class Form:
    """The chord chart, the sections and the time grid, taken from the composing script."""

    def __init__(self, composer):
        g = runpy.run_path(composer)
        self.bar_ticks = g["BAR"]
        self.pickup = g["PICKUP"]
        self.triplet = g["TRIPLET"]
        self.final_bar = g["FINAL_BAR"]
        self.progression = list(g["PROGRESSION"])
        self.chords = {k: set(v) for k, v in g["CHORDS"].items()}
        self.sections = dict(sorted(g["SECTIONS"].items()))

    def bar(self, t):
        return (t - self.pickup) // self.bar_ticks

    def pos(self, t):
        """Triplet within the bar (0..11), or None off the triplet grid."""
        off = (t - self.pickup) % self.bar_ticks
        return off // self.triplet if off % self.triplet == 0 else None

    def chord(self, bar):
        return self.chords[self.progression[min(max(bar, 0), len(self.progression) - 1)]]

    def section_of_bar(self, bar):
        return max(b for b in self.sections if b <= bar)

    def section_ranges(self):
        """(name, first bar, last bar) of every section."""
        starts = list(self.sections)
        out = []
        for i, b in enumerate(starts):
            end = starts[i + 1] - 1 if i + 1 < len(starts) else self.final_bar
            out.append((self.sections[b], b, end))
        return out

    def tick(self, bar):
        return self.pickup + self.bar_ticks * bar


# ---------------------------------------------------------------- the score

def melody(notes):
    """The lead's tune: its highest note at every onset. The rest of the lead harmonises it."""
    by_start = defaultdict(list)
    for n in notes:
        if n[4] == LEAD:
            by_start[n[0]].append(n)
    tune, under = [], []
    for s in sorted(by_start):
        group = sorted(by_start[s], key=lambda n: n[2])
        tune.append(group[-1])
        under += group[:-1]
    return tune, under


def judge_harmony(notes, form, out):
    tonal = [n for n in notes if n[4] in TONAL]
    in_key = sum(n[1] for n in tonal if n[2] % 12 in F_SHARP_MINOR)
    leading = sum(n[1] for n in tonal if n[2] % 12 == 5)
    total = sum(n[1] for n in tonal)
    out.append(f"  tonal note-time in F sharp minor: {pct(in_key, total)}"
               f" (E sharp, the leading tone, {pct(leading, total)})")
    for code in TONAL:
        part = [n for n in tonal if n[4] == code]
        on = sum(n[1] for n in part if n[2] % 12 in form.chord(form.bar(n[0])))
        out.append(f"  {PART_NAMES[code]:14} on the bar's chord: {pct(on, sum(n[1] for n in part))}"
                   " of its note-time")
    _, under = melody(notes)
    off = [n for n in under if n[2] % 12 not in form.chord(form.bar(n[0]))]
    out.append(f"  lead harmony notes off the chord: {len(off)} of {len(under)}")
    for n in off:
        b = form.bar(n[0])
        out.append(f"    bar {b} ({form.progression[b]}): {name(n[2])}")


def sounding_pairs(notes):
    """Every pair of notes that sound together, with the ticks they share."""
    ordered = sorted(notes)
    active = []
    for n in ordered:
        active = [a for a in active if a[0] + a[1] > n[0]]
        for a in active:
            yield a, n, min(a[0] + a[1], n[0] + n[1]) - n[0]
        active.append(n)


def judge_clashes(notes, form, out):
    tonal = [n for n in notes if n[4] in TONAL]
    pairs = bad = 0
    shared = bad_shared = 0
    worst = Counter()
    for a, b, ticks in sounding_pairs(tonal):
        if a[2] == b[2]:
            continue
        pairs += 1
        shared += ticks
        if abs(a[2] - b[2]) % 12 in DISSONANT:
            bad += 1
            bad_shared += ticks
            worst[form.bar(b[0])] += ticks
    out.append(f"  sounding pairs a minor second, major seventh or tritone apart: {bad} of {pairs}"
               f" ({pct(bad, pairs)}; {pct(bad_shared, shared)} of the shared time)")
    if worst:
        top = ", ".join(f"bar {b} ({t} ticks)" for b, t in worst.most_common(4))
        out.append(f"  most in: {top}")


def bar_patterns(notes, form, code, key):
    """bar -> a hashable pattern of the part's notes in that bar, built by key(notes, form)."""
    per_bar = defaultdict(list)
    for n in notes:
        if n[4] == code:
            per_bar[form.bar(n[0])].append(n)
    return {b: key(sorted(ns), form) for b, ns in per_bar.items()}


def arp_figure(ns, form):
    """Rhythm and contour of the arpeggio's top line in a bar."""
    top = {}
    for n in ns:
        p = form.pos(n[0])
        top[p] = max(top.get(p, 0), n[2])
    onsets = sorted(k for k in top if k is not None)
    contour = "".join("u" if top[b] > top[a] else "d" if top[b] < top[a] else "-"
                      for a, b in zip(onsets, onsets[1:]))
    return tuple(onsets), contour


def kit_pattern(ns, form):
    return frozenset((form.pos(n[0]), n[2]) for n in ns)


def rhythm(ns, form):
    return tuple(sorted({form.pos(n[0]) for n in ns}, key=lambda p: -1 if p is None else p))


def groove_key(ns, form):
    """The kit's first three beats without crashes: what keeps a groove the same to the ear."""
    return frozenset((form.pos(n[0]), n[2]) for n in ns
                     if n[2] not in CRASHES and form.pos(n[0]) is not None and form.pos(n[0]) < 9)


def commonest(patterns, label, out):
    if not patterns:
        return
    counts = Counter(patterns.values())
    pattern, count = counts.most_common(1)[0]
    bars = sorted(b for b, p in patterns.items() if p == pattern)
    out.append(f"  {label}: {len(counts)} different in {len(patterns)} bars; the commonest in "
               f"{count} ({bars_text(bars)})")


def bars_text(bars):
    runs, start = [], None
    for i, b in enumerate(bars):
        if start is None:
            start = b
        if i + 1 == len(bars) or bars[i + 1] != b + 1:
            runs.append(f"{start}" if start == b else f"{start}-{b}")
            start = None
    return ", ".join(runs)


def judge_repetition(notes, form, out):
    tune, _ = melody(notes)
    lead_bars = defaultdict(list)
    for n in tune:
        lead_bars[form.bar(n[0])].append(((n[0] - form.pickup) % form.bar_ticks, n[1], n[2]))
    seen = {}
    repeats = defaultdict(list)
    for b in sorted(lead_bars):
        key = tuple(sorted(lead_bars[b]))
        if key in seen:
            repeats[form.section_of_bar(b)].append(f"{b}={seen[key]}")
        else:
            seen[key] = b
    for name_, first, last in form.section_ranges():
        bars = [b for b in lead_bars if first <= b <= last]
        if bars:
            rep = repeats.get(first, [])
            out.append(f"  tune bars repeating an earlier bar note for note, {name_}: {len(rep)} of "
                       f"{len(bars)}" + (f" ({', '.join(rep)})" if rep else ""))
    arps = bar_patterns(notes, form, PLUCK, arp_figure)
    commonest(arps, "arpeggio figures (rhythm and contour)", out)
    for name_, first, last in form.section_ranges():
        figs = Counter(p for b, p in arps.items() if first <= b <= last)
        if figs and last > first:
            (onsets, contour), count = figs.most_common(1)[0]
            out.append(f"    {name_}: {len(figs)} figures, the commonest ({len(onsets)} onsets, "
                       f"{contour}) in {count} bars")
    kits = bar_patterns(notes, form, KIT, kit_pattern)
    commonest(kits, "kit bars", out)
    stabs = bar_patterns(notes, form, COUNTER, rhythm)
    commonest(stabs, "stab/counter rhythms", out)
    backbeat = sum(1 for p in stabs.values() if p == (3, 9))
    out.append(f"  bars whose stabs fall on beats 2 and 4 only: {backbeat} of {len(stabs)}")
    # The fills: the kit's last two beats before every section start.
    fills = {}
    for b in list(form.sections)[1:]:
        hits = frozenset((form.pos(n[0]), n[2]) for n in notes if n[4] == KIT
                         and form.bar(n[0]) == b - 1 and form.pos(n[0]) is not None
                         and form.pos(n[0]) >= 6)
        if any(d in (SNARE, KICK) for _, d in hits):
            fills[b - 1] = hits
    out.append(f"  fills into a section: {len(fills)}, {len(set(fills.values()))} different"
               f" (bars {', '.join(str(b) for b in fills)})")
    # The longest stretch in which the groove, the arpeggio and the stabs stay as they were.
    grooves = bar_patterns(notes, form, KIT, groove_key)
    arp_rhythm = bar_patterns(notes, form, PLUCK, rhythm)
    best, run_start = (0, 0, 0), None
    for b in range(0, form.final_bar + 1):
        same = (b - 1 in grooves and grooves.get(b) == grooves.get(b - 1)
                and arp_rhythm.get(b) == arp_rhythm.get(b - 1)
                and stabs.get(b) == stabs.get(b - 1) and b in grooves)
        if same:
            run_start = b - 1 if run_start is None else run_start
            if b - run_start + 1 > best[0]:
                best = (b - run_start + 1, run_start, b)
        else:
            run_start = None
    length, first, last = best
    seconds = length * form.bar_ticks * SEC_PER_TICK
    out.append(f"  longest stretch with the same groove, arpeggio rhythm and stabs: {length} bars"
               + (f" ({first}-{last}, {seconds:.0f} s)" if length else ""))
    # How the tune's bars open: the two intervals from the first note it starts in a bar.
    openings = defaultdict(list)
    for i, n in enumerate(tune[:-2]):
        if i == 0 or form.bar(tune[i - 1][0]) != form.bar(n[0]):
            openings[(tune[i + 1][2] - n[2], tune[i + 2][2] - tune[i + 1][2])].append(form.bar(n[0]))
    if openings:
        (a, b), bars = max(openings.items(), key=lambda kv: len(kv[1]))
        out.append(f"  the tune's commonest bar opening ({a:+d}, {b:+d} semitones) opens "
                   f"{len(bars)} bars ({', '.join(map(str, bars))})")


def judge_lead(notes, form, out):
    tune, _ = melody(notes)
    body = [n for n in tune if n[0] < form.tick(form.final_bar)]
    off = [n for n in body if form.pos(n[0]) is None or form.pos(n[0]) % 3]
    out.append(f"  tune notes: {len(body)} (and the last chord); starting off the beat: "
               f"{len(off)} ({pct(len(off), len(body))})")
    short = sum(1 for n in body if n[1] < form.triplet)
    lengths = sorted(n[1] for n in body)
    beat = 3 * form.triplet
    out.append(f"  lengths: {lengths[0]}..{lengths[-1]} ticks ({lengths[0] / beat:.2f}.."
               f"{lengths[-1] / beat:.2f} beats); a triplet or shorter: {short}")
    lo, hi = min(n[2] for n in body), max(n[2] for n in body)
    top_bars = sorted({form.bar(n[0]) for n in body if n[2] == hi})
    out.append(f"  range {name(lo)}..{name(hi)} ({hi - lo} semitones); {name(hi)} in bars "
               f"{bars_text(top_bars)}")
    per = []
    for name_, first, last in form.section_ranges():
        sec = [n for n in body if first <= form.bar(n[0]) <= last]
        if sec:
            per.append(f"{name_} {name(max(n[2] for n in sec))}")
    out.append("  top note per section: " + ", ".join(per))


def judge_cadences(notes, form, out):
    tune, _ = melody(notes)
    ends = []
    for name_, first, last in form.section_ranges():
        sec = [n for n in tune if first <= form.bar(n[0]) <= last]
        if sec and last < form.final_bar:
            n = sec[-1]
            b = form.bar(n[0])
            mark = "tonic" if n[2] % 12 == TONIC else "not the tonic"
            ends.append(f"{name_}: {name(n[2])} over {form.progression[b]} ({mark})")
    for e in ends:
        out.append("  lead ends " + e)
    last = [n for n in notes if n[4] in TONAL and n[0] >= form.tick(form.final_bar)]
    if last:
        top = max(n[2] for n in last)
        low = min(n[2] for n in last)
        out.append(f"  last chord: {name(low)}..{name(top)}, top note {name(top)}"
                   f" ({'the tonic' if top % 12 == TONIC else 'not the tonic'})")


def judge_register(notes, form, out):
    for code in TONAL:
        part = [n for n in notes if n[4] == code]
        med = statistics.median(n[2] for n in part)
        octaves = Counter()
        for n in part:
            octaves[n[2] // 12 - 1] += n[1]
        total = sum(octaves.values())
        spread = " ".join(f"o{o} {100 * t / total:.0f}%" for o, t in sorted(octaves.items()))
        out.append(f"  {PART_NAMES[code]:14} {name(min(n[2] for n in part))}.."
                   f"{name(max(n[2] for n in part))}, median {name(int(med))}; {spread}")
    bass = [n for n in notes if n[4] == BASS]
    roots = []
    for b in range(form.final_bar + 1):
        on = [n for n in bass if form.bar(n[0]) == b]
        if on:
            roots.append(min(on, key=lambda n: (n[2], n[0]))[2])
    out.append(f"  bass roots (the lowest note of each bar): {name(min(roots))}..{name(max(roots))};"
               f" below F#1: {sum(1 for r in roots if r < 30)} bars")
    low = [n for n in bass if n[2] < 30]
    if low:
        out.append(f"  bass notes below F#1: {len(low)}, "
                   f"{sum(n[1] for n in low)} ticks in all, loudest velocity "
                   f"{max(n[3] for n in low)}: " + ", ".join(
                       f"{name(note)} x{c}" for note, c in sorted(Counter(n[2] for n in low).items())))
    tonal = [n for n in notes if n[4] in TONAL]
    band = sum(n[1] for n in tonal if 48 <= n[2] <= 54)
    out.append(f"  C3..F#3: {pct(band, sum(n[1] for n in tonal))} of the tonal note-time")
    # The arpeggio at or above the tune, as a share of the tune's sounding time.
    tune, _ = melody(notes)
    arp = sorted(n for n in notes if n[4] == PLUCK)
    for name_, first, last in form.section_ranges():
        sec = [n for n in tune if first <= form.bar(n[0]) <= last]
        if not sec:
            continue
        covered = total = 0
        for n in sec:
            ticks = set()
            for a in arp:
                if a[0] >= n[0] + n[1]:
                    break
                if a[0] + a[1] > n[0] and a[2] >= n[2]:
                    ticks.update(range(max(a[0], n[0]), min(a[0] + a[1], n[0] + n[1])))
            covered += len(ticks)
            total += n[1]
        out.append(f"  arpeggio at or above the lead, {name_}: {pct(covered, total)}")


# ---------------------------------------------------------------- the render

def k_weight(x):
    """The loudness meter's two filters (a high shelf and a high-pass) at 44.1 kHz."""
    fs = float(SAMPLE_RATE)
    k = math.tan(math.pi * 1681.974450955533 / fs)
    q = 0.7071752369554196
    vh = 10 ** (3.999843853973347 / 20)
    vb = vh ** 0.4996667741545416
    a0 = 1 + k / q + k * k
    b0, b1, b2 = (vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0
    a1, a2 = 2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0
    k2 = math.tan(math.pi * 38.13547087602444 / fs)
    q2 = 0.5003270373238773
    c0 = 1 + k2 / q2 + k2 * k2
    c1, c2 = 2 * (k2 * k2 - 1) / c0, (1 - k2 / q2 + k2 * k2) / c0
    out = array.array("d", bytes(8 * len(x)))
    x1 = x2 = y1 = y2 = z1 = z2 = 0.0
    for i, v in enumerate(x):
        s = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        # The high-pass's numerator is (1, -2, 1), run on the shelf's output.
        t = s - 2 * y1 + y2 - c1 * z1 - c2 * z2
        x2, x1, y2, y1, z2, z1 = x1, v, y1, s, z1, t
        out[i] = t
    return out


def mean_square(x, a, b):
    b = min(b, len(x))
    if b <= a:
        return 0.0
    return math.fsum(v * v for v in x[a:b]) / (b - a)


def db(ms, ref=32768.0):
    return 10 * math.log10(ms / (ref * ref)) if ms > 0 else float("-inf")


def section_frames(form, frames):
    out = []
    ranges = form.section_ranges()
    for i, (name_, first, _) in enumerate(ranges):
        a = 0 if i == 0 else tick_frame(form.tick(first))
        b = tick_frame(form.tick(ranges[i + 1][1])) if i + 1 < len(ranges) else frames
        out.append((name_, a, b))
    return out


def judge_levels(notes, form, pcm, bus, loudness, out):
    left, right = pcm
    frames = len(left)
    kl = kr = None
    if loudness:
        kl, kr = k_weight(left), k_weight(right)
    out.append(f"  {'section':22} {'seconds':>13} {'RMS dBFS':>9} {'peak':>6}"
               + (f" {'LUFS':>6}" if loudness else "") + (f" {'bus dB':>7}" if bus else ""))
    levels = {}
    for name_, a, b in section_frames(form, frames):
        ms = (mean_square(left, a, b) + mean_square(right, a, b)) / 2
        peak = max(max(abs(v) for v in left[a:b]), max(abs(v) for v in right[a:b]))
        row = (f"  {name_:22} {a / SAMPLE_RATE:6.1f}-{b / SAMPLE_RATE:5.1f} {db(ms):9.1f}"
               f" {peak / 32767:6.2f}")
        lufs = None
        if loudness:
            lufs = -0.691 + 10 * math.log10(
                (mean_square(kl, a, b) + mean_square(kr, a, b)) / (32768.0 * 32768.0) + 1e-30)
            row += f" {lufs:6.1f}"
        bus_db = None
        if bus:
            bus_db = db((mean_square(bus[0], a, b) + mean_square(bus[1], a, b)) / 2)
            row += f" {bus_db:7.1f}"
        levels[name_] = (db(ms), lufs, bus_db)
        out.append(row)
    whole = (mean_square(left, 0, frames) + mean_square(right, 0, frames)) / 2
    out.append(f"  whole piece: {frames / SAMPLE_RATE:.2f} s, RMS {db(whole):.1f} dBFS")
    names = list(levels)

    def find(word):
        return next((n for n in names if n.startswith(word)), None)

    bd, cl, mel = find("breakdown"), find("climax"), find("melody")
    if bd and cl:
        out.append(f"  climax over breakdown: {levels[cl][0] - levels[bd][0]:.1f} dB RMS after the "
                   "master" + (f", {levels[cl][2] - levels[bd][2]:.1f} dB before it" if bus else ""))
    if mel and cl and loudness:
        out.append(f"  climax over {mel}: {levels[cl][1] - levels[mel][1]:.1f} LU")
    # Samples the soft clipper bends, and where they fall.
    kicks = sorted(tick_frame(n[0]) for n in notes if n[4] == KIT and n[2] == KICK)
    window = SAMPLE_RATE // 20  # 50 ms after a kick's onset
    beyond = near = on_kick = 0
    for x in (left, right):
        ki = 0
        for i, v in enumerate(x):
            if v > KNEE or v < -KNEE:
                beyond += 1
                if v >= NEAR_FULL or v <= -NEAR_FULL:
                    near += 1
                while ki + 1 < len(kicks) and kicks[ki + 1] <= i:
                    ki += 1
                if kicks and kicks[ki] <= i < kicks[ki] + window:
                    on_kick += 1
    out.append(f"  samples beyond the soft clipper's knee (|x| > {KNEE}): {beyond} "
               f"({100.0 * beyond / (2 * frames):.3f} %), {pct(on_kick, beyond)} of them within "
               f"50 ms of a kick; at or past {NEAR_FULL}: {near}")
    jump, where, ch, big = 0, 0, 0, 0
    for c, x in enumerate((left, right)):
        for i in range(1, frames):
            d = x[i] - x[i - 1]
            if d > 40000 or d < -40000:
                big += 1
            if d > jump or -d > jump:
                jump, where, ch = abs(d), i, c
    x = (left, right)[ch]
    t = where / SAMPLE_RATE / SEC_PER_TICK
    out.append(f"  largest jump between neighbouring samples: {jump} ({x[where - 1]} -> {x[where]},"
               f" {'LR'[ch]} at {where / SAMPLE_RATE:.3f} s, tick {t:.0f}, bar {form.bar(int(t))});"
               f" jumps over 40000: {big}")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("score", help="the score text")
    parser.add_argument("render", nargs="?", help="its render, a 16-bit stereo WAV")
    parser.add_argument("--bus", help="the mix bus before the master (mix-wet.wav of --stems)")
    parser.add_argument("--composer", default=os.path.join(here, "compose.py"),
                        help="the script that wrote the score, for its chord chart and form")
    parser.add_argument("--no-loudness", action="store_true",
                        help="leave the loudness meter out (it is the slowest measure)")
    args = parser.parse_args()

    form = Form(args.composer)
    notes = read_score(args.score)
    out = []
    for title, fn in (("harmony", judge_harmony), ("clashes", judge_clashes),
                      ("repetition", judge_repetition), ("lead", judge_lead),
                      ("cadences", judge_cadences), ("register", judge_register)):
        out.append(title)
        fn(notes, form, out)
    print("\n".join(out), flush=True)
    if args.render:
        out = ["levels"]
        bus = read_bus(args.bus) if args.bus else None
        judge_levels(notes, form, read_pcm(args.render), bus, not args.no_loudness, out)
        print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
