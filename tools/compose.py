#!/usr/bin/env python3
"""Composes quom's piece and writes it as the score text (resources/score.txt).

The build embeds that text; this script is only needed to change the music. It is
deterministic: running it again gives the same file byte for byte.

    tools/compose.py                 write resources/score.txt
    tools/compose.py --check         fail unless resources/score.txt is up to date
    tools/compose.py --stats         print the figures of the list

Time base: one tick is 4/110 s, so at 110 beats per minute a beat is exactly 15
ticks. The piece moves in triplet eighths of 5 ticks (a shuffle); a bar of four
beats is 60 ticks. Two beats of pickup open it, so bar b starts at 30 + 60 b and
the closing downbeat, bar 53, falls on tick 3210.

Key F sharp minor. Form, by bars, and what changes:

    pickup      two beats of rising arpeggio
    0 - 7       intro: a climbing arpeggio alone, then bass, hats and held
                chords; a snare triplet leads into the groove
    8 - 15      groove: shuffle kit, busy bass, backbeat stabs, a swinging
                arpeggio on the root's octave; the lead's call (12 - 15)
    16 - 23     melody A: half-time kit with a bell, a two-feel bass, stabs
                on the off-beats, low rocking arpeggio pairs; the tune grows
                out of the call and stops on the dominant
    24 - 31     melody B: backbeat with bell and hats, a walking bass, short
                held chords, falling arpeggio triplets; the tune sinks to A3
                and closes on the tonic
    32 - 39     breakdown: no kit but a bell, long bass, soft chords, a
                counter-melody while the lead rests, a sparse arpeggio
                three against two
    40 - 41     build: dominant pedal, kick on the beats, snare roll, rising
                arpeggio pairs, the lead climbing to C sharp 5
    42 - 49     climax: from the sixth degree (D E F#m A D E Bm C#), a new
                tune that reaches D5, the top of the piece, three times, with
                chord tones under its long notes and doubled an octave down;
                a tumbling arpeggio under it; the kit drives, open hats
    50 - 52     outro: the shuffle again, the call's figure once more
    53          the last chord, the tonic on top, with the crash, ringing out
                while the arpeggio slows down

tools/judge.py reads the score and a render and prints what a listener would
check: harmony, clashes, repetition, the lead's swing, cadences, register and
the levels after the master.

Instrument codes: 25 the running arpeggio (bright pluck), 24 the lead, 32 the
bass, 26 chord stabs and the counter-melody, 127 the kit (36 kick, 38 snare,
61 closed hat, 63 open hat, 59 bell, 67 low crash, 69 crash).
"""

import argparse
import os
import struct
import sys

TICKS_PER_BEAT = 15
TRIPLET = 5  # ticks per triplet eighth
BAR = 60
PICKUP = 30
FINAL_BAR = 53

SECTIONS = {-1: "pickup", 0: "intro", 8: "groove", 16: "melody A",
            24: "melody B", 32: "breakdown", 40: "build", 42: "climax",
            50: "outro", 53: "last chord"}

PLUCK, LEAD, COUNTER, BASS, KIT = 25, 24, 26, 32, 127
BLOCK_ORDER = (PLUCK, LEAD, BASS, COUNTER, KIT)

KICK, SNARE, BELL, CLOSED_HAT, OPEN_HAT, LOW_CRASH, CRASH = 36, 38, 59, 61, 63, 67, 69


def tick(bar, pos=0):
    """Start tick of triplet `pos` (0..11) of `bar`; bar -1 is the pickup's bar."""
    return PICKUP + BAR * bar + TRIPLET * pos


def section_of(start):
    """The first bar of the section that tick `start` falls in."""
    bar = (start - PICKUP) // BAR
    return max(b for b in SECTIONS if b <= bar)


# ---------------------------------------------------------------- harmony

PITCH_CLASS = {"C": 0, "C#": 1, "D": 2, "D#": 3, "E": 4, "E#": 5, "F": 5, "F#": 6,
               "G": 7, "G#": 8, "A": 9, "A#": 10, "B": 11}


def pitch(name):
    """'C#5' -> 73 (A4 = 69)."""
    return 12 * (int(name[-1]) + 1) + PITCH_CLASS[name[:-1]]


# Chord: pitch classes, root first.
CHORDS = {
    "F#m": (6, 9, 1),
    "D": (2, 6, 9),
    "A": (9, 1, 4),
    "E": (4, 8, 11),
    "Esus": (4, 9, 11),
    "Bm": (11, 2, 6),
    "C#": (1, 5, 8),
    "C#m": (1, 4, 8),
}

# The bass's roots, F#1 up to E2: low enough to carry the harmony, high enough for small
# speakers to play.
BASS_ROOT = {6: 30, 8: 32, 9: 33, 11: 35, 1: 37, 2: 38, 4: 40}

# Chord of every bar, 0 .. 53.
PROGRESSION = (
    ["F#m", "F#m", "D", "D", "A", "A", "Bm", "C#"]         # intro
    + ["F#m", "D", "A", "E", "F#m", "D", "Bm", "C#"]       # groove
    + ["F#m", "D", "Bm", "C#", "F#m", "D", "E", "C#"]      # melody A, ending on the dominant
    + ["Bm", "D", "F#m", "E", "D", "Bm", "C#", "F#m"]      # melody B, closing on the tonic
    + ["D", "E", "C#m", "F#m", "Bm", "D", "Esus", "E"]     # breakdown
    + ["C#", "C#"]                                         # build
    + ["D", "E", "F#m", "A", "D", "E", "Bm", "C#"]         # climax, opening on the sixth degree
    + ["F#m", "D", "C#"]                                   # outro
    + ["F#m"]                                              # last chord
)
assert len(PROGRESSION) == FINAL_BAR + 1


def chord(bar):
    return CHORDS[PROGRESSION[max(bar, 0)]]


def ladder(bar, low, high):
    """Chord tones of `bar` from `low` to `high`, ascending."""
    pcs = chord(bar)
    return [n for n in range(low, high + 1) if n % 12 in pcs]


def chord_below(bar, note):
    """The nearest chord tone of `bar` under `note`."""
    n = note - 1
    while n % 12 not in chord(bar):
        n -= 1
    return n


# ---------------------------------------------------------------- the list

# Velocity steps (each 1.04 in gain) added to every note by the section it starts in. The
# master lifts quiet passages up to threefold and so flattens the differences between
# sections; these keep the groove and the melodies under the climax after it.
SECTION_TRIM = {8: -4, 16: -6, 24: -4, 50: -2}


class Score:
    def __init__(self):
        self.notes = {code: [] for code in BLOCK_ORDER}

    def add(self, code, start, length, note, velocity):
        assert 0 <= start and 1 <= length, (code, start, length)
        velocity = max(1, min(127, int(velocity) + SECTION_TRIM.get(section_of(start), 0)))
        self.notes[code].append((start, length, note, velocity))

    def records(self):
        """All records in file order: the blocks in BLOCK_ORDER, each sorted by time."""
        out = []
        for code in BLOCK_ORDER:
            block = self.notes[code]
            if code == KIT:
                # Crashes first within a tick, then kick, snare and the metal.
                rank = {CRASH: 0, LOW_CRASH: 1, KICK: 2, SNARE: 3, BELL: 4, CLOSED_HAT: 5,
                        OPEN_HAT: 6}
                block = sorted(block, key=lambda r: (r[0], rank[r[2]]))
            else:
                block = sorted(block, key=lambda r: (r[0], r[2]))
            out += [(s, l, n, v, code) for (s, l, n, v) in block]
        return out

    def tune(self, bars):
        """The lead's tune (its top note at every onset) in `bars`."""
        top = {}
        for r in self.notes[LEAD]:
            if tick(bars[0]) <= r[0] < tick(bars[-1] + 1) and r[2] > top.get(r[0], (0, 0, 0))[2]:
                top[r[0]] = r
        return [top[s] for s in sorted(top)]

    def tune_at(self, start, length):
        """The lowest lead note sounding anywhere in [start, start + length), or None."""
        notes = [n for s, l, n, _ in self.notes[LEAD] if s < start + length and start < s + l]
        return min(notes) if notes else None


class Humanise:
    """A small fixed generator for velocity variation, so the file never changes."""

    def __init__(self, seed):
        self.state = seed

    def __call__(self, spread):
        self.state = (self.state * 1103515245 + 12345) % (1 << 31)
        return (self.state >> 16) % (2 * spread + 1) - spread


# ---------------------------------------------------------------- lead

# The tune as streams of "NOTE:triplets" ("r" a rest), each from (bar, triplet). A "|" marks a
# bar line and must fall on one; notes may run across bar lines unmarked (anticipations).
LEAD_STREAMS = (
    # groove: the call (a rising swing figure, F sharp - A - C sharp), answered by the arpeggio
    ((12, 0), "F#4:2 A4:1 C#5:9 | r:12 | r:3 B4:3 F#4:6 | E#4:6 r:3 C#4:1 E#4:1 G#4:1 |"),
    # melody A: the call grows into a tune, the figure displaced and moved onto other chords;
    # it stops on the dominant
    ((16, 0), "A4:5 G#4:1 F#4:6 | r:2 D4:1 F#4:2 A4:1 B4:6 | F#4:6 r:3 D4:1 F#4:1 B4:1 |"
              " C#5:5 B4:1 G#4:6 | r:3 C#4:2 F#4:1 A4:6 | r:2 F#4:1 A4:5 F#4:3 E4:4"
              " G#4:2 B4:4 G#4:3 | E#4:5 G#4:1 C#5:3 r:2 C#4:1 |"),
    # melody B: lower, the figure on B minor and F sharp minor, closing on the tonic
    ((24, 0), "D4:2 F#4:1 B4:6 A4:3 | F#4:5 E4:1 D4:6 | C#4:2 F#4:1 A4:6 G#4:3 |"
              " B4:6 G#4:3 E4:3 | r:2 A3:1 D4:2 F#4:1 A4:6 | B4:3 A4:2 F#4:4 D4:3 |"
              " C#4:2 E#4:1 G#4:3 B4:5 E#4:1 | F#4:12 |"),
    # build: up the dominant, a semitone under the climax's first note
    ((41, 3), "C#4:2 E#4:1 G#4:2 B4:1 C#5:3 |"),
    # climax: new, higher: D5, the top of the piece, on its first downbeat and twice more
    ((42, 0), "D5:8 C#5:1 A4:3 | B4:5 G#4:1 E4:5 B4:1 | C#5:6 A4:2 F#4:1 A4:3 |"
              " C#5:3 B4:2 A4:1 E4:5 C#5:1 | D5:9 C#5:1 B4:1 A4:1 | B4:5 G#4:1 E4:3 G#4:3 |"
              " D5:5 C#5:1 B4:6 | r:3 E#4:2 G#4:1 C#5:6 |"),
    # outro: the figure once more, falling to the leading tone
    ((50, 0), "C#5:3 A4:2 F#4:1 A4:6 | r:2 F#4:1 A4:3 D4:5 E4:1 | C#4:3 G#4:6 E#4:3 |"),
)

CLIMAX = range(42, 50)


def stream_notes(start, text):
    """(start tick, triplets, note) of a stream."""
    bar, pos = start
    at = pos
    for item in text.split():
        if item == "|":
            assert at % 12 == 0, (start, text, at)
            continue
        name, dur = item.split(":")
        dur = int(dur)
        if name != "r":
            yield tick(bar, at), dur, pitch(name)
        at += dur


def compose_lead(score):
    rnd = Humanise(24)
    for start, text in LEAD_STREAMS:
        for t, dur, note in stream_notes(start, text):
            bar = (t - PICKUP) // BAR
            pos = (t - PICKUP) % BAR // TRIPLET
            base = 116 if bar in CLIMAX else (110 if section_of(t) in (40, 50) else 108)
            accent = 6 if pos % 3 == 0 else 0
            length = min(59, dur * TRIPLET - 1)
            vel = base + accent + rnd(2)
            if (bar, note) == (CLIMAX[0], pitch("D5")):
                vel = 127  # the peak of the piece
            score.add(LEAD, t, length, note, vel)
            # In the climax the long notes on a chord tone get the chord tone under them.
            if bar in CLIMAX and dur >= 5 and note % 12 in chord(bar):
                score.add(LEAD, t, length, chord_below(bar, note), vel - 12)
    # The last chord, the tonic on top.
    for note in (pitch("A3"), pitch("C#4"), pitch("F#4")):
        score.add(LEAD, tick(FINAL_BAR), 59, note, 104)


# ---------------------------------------------------------------- pluck

# Figures: one entry per triplet of the bar, each a tuple of indices into the bar's chord tones
# from a section's lowest note (the first index the louder voice); () rests.
def per_beat(*beats):
    out = []
    for beat in beats:
        out += list(beat)
    assert len(out) == 12
    return out


# intro: a single line climbing one chord tone a beat and falling back
ROLL = per_beat([(0,), (1,), (2,)], [(1,), (2,), (3,)], [(2,), (3,), (4,)], [(3,), (2,), (1,)])
# groove: the root and its octave on the beat, the fifth over the root between, a swung pair
# after
SWING = per_beat([(3, 0), (2, 0), (3, 1)], [(3, 0), (2, 0), (4, 1)], [(3, 0), (2, 0), (3, 1)],
                 [(2, 0), (1, 0), (3, 2)])
# melody A: low rocking pairs under the tune
ROCK = per_beat([(2, 0), (1,), (2, 1)], [(2, 0), (1,), (2, 1)], [(2, 0), (1,), (2, 1)],
                [(2, 0), (1,), (3, 2)])
# melody B: falling triplets over a low note on each beat
FALL = per_beat([(3, 0), (2, 1), (1, 0)], [(4, 0), (3, 1), (2, 1)], [(3, 0), (2, 1), (1, 0)],
                [(2, 0), (3, 1), (4, 1)])
# breakdown: one soft note every two triplets, three against the bar's two halves
DRIFT = per_beat([(0,), (), (2,)], [(), (1,), ()], [(3,), (), (2,)], [(), (4,), ()])
DRIFT_WIDE = [(2, 0) if i == 0 else v for i, v in enumerate(DRIFT)]
DRIFT_MORE = per_beat([(0,), (), (2,)], [(), (1,), (3,)], [(3,), (), (2,)], [(), (4,), (3,)])
DRIFT_UP = per_beat([(0,), (), (2,)], [(), (1,), (3,)], [(3,), (2,), (1,)], [(2,), (3,), (4,)])
# climax: parallel pairs tumbling down each beat
TUMBLE = per_beat([(4, 2), (3, 1), (2, 0)], [(4, 2), (3, 1), (2, 0)], [(4, 2), (3, 1), (2, 0)],
                  [(3, 1), (4, 2), (5, 3)])
# the intro's second half and the outro: its line with a voice two chord tones under it
ROLL_PAIRS = [(i[0] + 2, i[0]) for i in ROLL]


ARP_TOP = 73  # C sharp 5: the D above it belongs to the lead's climax


def figure_bar(score, bar, low, figure, base_vel, rnd, length=4, skip=()):
    """One bar of a figure on the chord tones of `bar` from `low`, kept under the lead."""
    tones = ladder(bar, low, low + 40)
    for pos, voices in enumerate(figure):
        if pos in skip:
            continue
        accent = 10 if pos == 0 else (5 if pos % 3 == 0 else 0)
        start = tick(bar, pos)
        dur = length + (3 if pos == 0 else 0)
        under = score.tune_at(start, dur)
        for k, i in enumerate(voices):
            note = tones[i]
            while note > ARP_TOP or (under is not None and note >= under - 1):
                note -= 12
            score.add(PLUCK, start, dur, note, base_vel + accent - 8 * k + rnd(3))


def sparkle_bar(score, bar, base_vel, rnd):
    """Off-beat high chord tones on the middle triplet of each beat."""
    top = ladder(bar, 64, ARP_TOP)
    for beat in range(4):
        note = top[-1] if beat % 2 else top[-2]
        score.add(PLUCK, tick(bar, 3 * beat + 1), 3, note, base_vel + rnd(3))


def compose_pluck(score):
    rnd = Humanise(25)
    # Pickup: the arpeggio climbs into bar 0 out of silence.
    for i, n in enumerate([54, 57, 61, 54, 57, 61]):
        score.add(PLUCK, tick(-1, 6 + i), 4, n, 42 + 4 * i)
    score.add(PLUCK, tick(-1, 11), 4, 66, 58)  # and the octave over the last
    for bar in range(0, 4):  # intro, alone
        figure_bar(score, bar, 54, ROLL, 66 + 3 * bar, rnd)
    for bar in range(4, 8):  # with a second voice under it
        figure_bar(score, bar, 49, ROLL_PAIRS, 72, rnd)
        sparkle_bar(score, bar, 55, rnd)
    for bar in range(8, 16):  # groove; it steps aside where the call comes in
        skip = (0, 1, 2) if bar in (12, 14) else ()
        figure_bar(score, bar, 54, SWING, 74, rnd, skip=skip)
    for bar in range(16, 24):  # melody A, low
        skip = {16: (0, 1, 2), 20: (3, 4, 5)}.get(bar, ())
        figure_bar(score, bar, 52, ROCK, 64, rnd, skip=skip)
    for bar in range(24, 32):  # melody B
        figure_bar(score, bar, 49, FALL, 70, rnd, skip=(0, 1, 2) if bar == 24 else ())
    for bar in range(32, 36):  # breakdown
        figure_bar(score, bar, 54, DRIFT if bar < 34 else DRIFT_WIDE, 48, rnd, length=6)
    for bar in range(36, 40):
        figure_bar(score, bar, 54, DRIFT_UP if bar == 39 else DRIFT_MORE, 52, rnd, length=6)
    for bar in range(40, 42):  # build: rising pairs every triplet
        rise = per_beat(*[[(p // 2 + 1, p // 2) for p in range(3 * b, 3 * b + 3)] for b in range(4)])
        figure_bar(score, bar, 44 + 5 * (bar - 40), rise, 70 + 8 * (bar - 40), rnd)
    for bar in CLIMAX:
        figure_bar(score, bar, 50, TUMBLE, 78, rnd)
    # and the tune an octave down, to carry it
    for start, length, note, vel in score.tune(CLIMAX):
        score.add(PLUCK, start, min(length, 9), note - 12, vel - 40)
    for bar in range(50, 53):  # outro
        figure_bar(score, bar, 50, ROLL_PAIRS, 74 - 4 * (bar - 50), rnd)
    # The last chord: the arpeggio slows to a stop on the tonic and fades out.
    # Its last note, the softest of the piece, ends on the piece's last tick.
    starts = [3210, 3216, 3223, 3231, 3240, 3250, 3261, 3273]
    notes = [42, 49, 54, 57, 61, 57, 61, 66]
    velocities = [84, 76, 68, 60, 52, 44, 36, 27]
    ends = starts[1:] + [3276]
    for s, e, n, v in zip(starts, ends, notes, velocities):
        score.add(PLUCK, s, e - s, n, v)


# ---------------------------------------------------------------- bass

def bass_root(bar):
    return BASS_ROOT[chord(bar)[0]]


def approach(bar):
    """A note leading into the next bar's root: a semitone under it, or the scale step over
    the lowest root."""
    nxt = bass_root(bar + 1)
    if nxt == bass_root(bar):
        return nxt + 7
    return nxt - 1 if nxt - 1 >= BASS_ROOT[6] else nxt + 2


def bass_bar(score, bar, pattern, base_vel, rnd):
    """pattern: (triplet, length in triplets, what) with what one of
    'r' root, 'o' octave, 'f' fifth, 'a' approach to the next bar's root."""
    r = bass_root(bar)
    for pos, dur, what in pattern:
        note = {"r": r, "o": r + 12, "f": r + 7}.get(what)
        if what == "a":
            note = approach(bar)
        accent = 14 if pos == 0 else (6 if pos % 3 == 0 else 0)
        score.add(BASS, tick(bar, pos), dur * TRIPLET - 1, note, base_vel + accent + rnd(3))


BUSY = [(0, 2, "r"), (2, 1, "r"), (3, 2, "o"), (5, 1, "r"), (6, 2, "r"), (8, 1, "f"),
        (9, 2, "o"), (11, 1, "a")]
TWO_FEEL = [(0, 5, "r"), (5, 1, "o"), (6, 3, "f"), (9, 2, "r"), (11, 1, "a")]
WALK = [(0, 3, "r"), (3, 2, "o"), (5, 1, "f"), (6, 3, "r"), (9, 2, "f"), (11, 1, "a")]
DRIVE = [(0, 2, "r"), (2, 1, "o"), (3, 2, "r"), (5, 1, "f"), (6, 2, "r"), (8, 1, "o"),
         (9, 2, "f"), (11, 1, "a")]


def compose_bass(score):
    rnd = Humanise(32)
    # Intro: the bass comes in from nothing, one long note a bar.
    for i, bar in enumerate(range(4, 8)):
        r = bass_root(bar)
        score.add(BASS, tick(bar), 44, r, 42 + 12 * i)
        score.add(BASS, tick(bar, 9), 14, r + 12 if i % 2 else r, 50 + 12 * i)
    for bar in range(8, 16):
        bass_bar(score, bar, BUSY, 94, rnd)
    for bar in range(16, 24):
        bass_bar(score, bar, TWO_FEEL, 90, rnd)
    for bar in range(24, 32):
        bass_bar(score, bar, WALK, 90, rnd)
    for bar in range(32, 36):  # breakdown: long notes
        bass_bar(score, bar, [(0, 9, "r"), (9, 3, "o")] if bar < 35 else
                 [(0, 9, "r"), (9, 2, "o"), (11, 1, "a")], 72, rnd)
    for bar in range(36, 40):
        bass_bar(score, bar, [(0, 6, "r"), (6, 5, "o"), (11, 1, "a")], 74, rnd)
    for bar in range(40, 42):  # build: pulse on the dominant, louder each beat
        for pos in range(12):
            score.add(BASS, tick(bar, pos), 4, bass_root(bar), 78 + 2 * (12 * (bar - 40) + pos) // 3)
    for bar in CLIMAX:
        bass_bar(score, bar, DRIVE, 98, rnd)
    for bar in range(50, 53):
        bass_bar(score, bar, WALK, 92 - 4 * (bar - 50), rnd)
    # The last chord: the root, and a short, soft thud an octave under it.
    score.add(BASS, tick(FINAL_BAR), 59, BASS_ROOT[6], 104)
    score.add(BASS, tick(FINAL_BAR), 4, pitch("F#0"), 52)


# ---------------------------------------------------------------- counter

def voicing(bar, centre):
    """Three adjacent chord tones around `centre`."""
    tones = ladder(bar, 45, 76)
    best = min(range(len(tones) - 2), key=lambda i: (abs(sum(tones[i:i + 3]) / 3 - centre), i))
    return tones[best:best + 3]


def stab(score, bar, pos, dur, vel, centre=55):
    for note in voicing(bar, centre):
        score.add(COUNTER, tick(bar, pos), dur, note, vel)


# A counter-melody for the breakdown, in the lead's absence.
COUNTER_STREAM = ((32, 0), "A3:6 F#3:3 D3:3 | E3:3 G#3:3 B3:6 | G#3:6 E3:3 C#3:3 |"
                           " F#3:12 | B3:6 F#3:3 D3:3 | F#3:3 A3:3 F#3:6 |"
                           " E3:6 A3:3 B3:3 | G#3:9 r:3 |")


def compose_counter(score):
    rnd = Humanise(26)
    for bar in range(4, 8):  # intro: a held chord a bar
        stab(score, bar, 0, 44, 62 + 2 * (bar - 4))
    for bar in range(8, 16):  # groove: backbeats, every other bar pushed
        for pos in ((3, 9) if bar % 2 == 0 else (3, 8, 11)):
            stab(score, bar, pos, 9 if pos % 3 == 0 else 4, 90 + rnd(3))
    for bar in range(16, 24):  # melody A: short chords on the swung halves of beats 1 and 3
        for pos in (2, 8):
            stab(score, bar, pos, 4, 82 + rnd(3), centre=54)
    for bar in range(24, 32):  # melody B: a held chord, and a push in every other bar
        stab(score, bar, 0, 20, 80 + rnd(2), centre=53)
        if bar % 2:
            stab(score, bar, 9, 9, 84 + rnd(2), centre=53)
    stab(score, 31, 11, 4, 84, centre=53)
    for t, dur, note in stream_notes(*COUNTER_STREAM):
        score.add(COUNTER, t, min(29, dur * TRIPLET - 1), note, 82 + rnd(3))
    for bar in range(32, 40):  # under it, soft chords
        stab(score, bar, 0, 27, 54 + rnd(2), centre=50)
    for bar in range(40, 42):  # build: every beat
        for beat in range(4):
            stab(score, bar, 3 * beat, 9, 80 + 6 * beat + 12 * (bar - 40))
    for bar in CLIMAX:  # climax: backbeats and the push into the next bar
        for pos, vel in ((3, 98), (9, 102), (11, 90)):
            stab(score, bar, pos, 4 if pos % 3 else 9, vel + rnd(2), centre=54)
    for bar in range(50, 53):
        stab(score, bar, 3, 9, 90)
        stab(score, bar, 9, 9, 90)
    stab(score, FINAL_BAR, 0, 59, 96, centre=55)


# ---------------------------------------------------------------- kit

def kit(score, bar, pos, drum, vel, length=1):
    score.add(KIT, tick(bar, pos), length, drum, vel)


SHUFFLE_HATS = (0, 2, 3, 5, 6, 8, 9, 11)

# The downbeat kick and the crash. The master's level follower takes some 5 ms to catch a
# sudden onset, so a kick's attack passes with the gain the quieter music before it set: the
# kick's level decides how often the soft clipper has to bend a sample. The crash's first
# samples swing from one extreme to the other: its level sets the largest jump between
# neighbouring samples.
KICK_LEVEL = 92
CRASH_LEVEL = 94


def shuffle_bar(score, bar, rnd, open_hat=False, kick=KICK_LEVEL):
    """The groove: kick on 1 and 3 and the swung half before 3, backbeat, ghost, shuffled hats."""
    kit(score, bar, 0, KICK, kick + rnd(2))
    kit(score, bar, 6, KICK, kick - 6 + rnd(2))
    kit(score, bar, 8, KICK, kick - 18 + rnd(3))
    kit(score, bar, 3, SNARE, 108 + rnd(3))
    kit(score, bar, 9, SNARE, 112 + rnd(3))
    kit(score, bar, 7, SNARE, 40 + rnd(3))
    for pos in SHUFFLE_HATS:
        if open_hat and pos == 11:
            kit(score, bar, pos, OPEN_HAT, 80 + rnd(3), 6)
        else:
            kit(score, bar, pos, CLOSED_HAT, (82 if pos % 3 == 0 else 64) + rnd(4))


def half_time_bar(score, bar, rnd, kick=KICK_LEVEL):
    """Melody A: the snare only on 3, the kick pushing, the bell on 1 and 3, hats between."""
    kit(score, bar, 0, KICK, kick + rnd(2))
    kit(score, bar, 5, KICK, kick - 12 + rnd(2))
    if bar % 2:
        kit(score, bar, 11, KICK, kick - 20 + rnd(2))
    kit(score, bar, 6, SNARE, 110 + rnd(3))
    for pos in (2, 10):
        kit(score, bar, pos, SNARE, 40 + rnd(3))
    for pos in (0, 6):
        kit(score, bar, pos, BELL, 78 + rnd(3))
    for pos in (2, 3, 5, 8, 9, 11):
        kit(score, bar, pos, CLOSED_HAT, (74 if pos % 3 == 0 else 62) + rnd(4))


def ride_bar(score, bar, rnd, kick=KICK_LEVEL):
    """Melody B: backbeat again, the bell on 1 and 3, closed hats on 2 and 4 and between."""
    kit(score, bar, 0, KICK, kick + rnd(2))
    kit(score, bar, 8, KICK, kick - 10 + rnd(2))
    if bar % 2 == 0:
        kit(score, bar, 5, KICK, kick - 18 + rnd(2))
    kit(score, bar, 3, SNARE, 106 + rnd(3))
    kit(score, bar, 9, SNARE, 110 + rnd(3))
    if bar % 2:
        kit(score, bar, 7, SNARE, 40 + rnd(3))
    for pos in (0, 3, 6, 9):
        kit(score, bar, pos, BELL if pos % 6 == 0 else CLOSED_HAT, 84 + rnd(3))
    for pos in (2, 5, 8, 11):
        kit(score, bar, pos, CLOSED_HAT, 66 + rnd(4))


def drive_bar(score, bar, rnd, kick=KICK_LEVEL, lift=False):
    """Climax: kicks on 1 and 3 and pushing into each, ghosts, open hats on the off-beats;
    lifted, the hats open on 1 and 3 too."""
    for pos, vel in ((0, kick), (5, kick - 14), (6, kick - 4), (11, kick - 16)):
        kit(score, bar, pos, KICK, vel + rnd(2))
    kit(score, bar, 3, SNARE, 106 + rnd(3))
    kit(score, bar, 9, SNARE, 108 + rnd(3))
    for pos in (1, 7):
        kit(score, bar, pos, SNARE, 38 + rnd(3))
    for pos in (2, 8):
        kit(score, bar, pos, OPEN_HAT, 76 + rnd(3), 4)
    for pos in (0, 3, 5, 6, 9, 11):
        if lift and pos in (0, 6):
            kit(score, bar, pos, OPEN_HAT, 66 + rnd(3), 4)
        else:
            kit(score, bar, pos, CLOSED_HAT, (80 if pos % 3 == 0 else 62) + rnd(4))


def fill(score, bar, hits):
    """hits: (triplet, drum, velocity) replacing whatever the bar played from the first of them."""
    first = tick(bar, hits[0][0])
    end = tick(bar + 1)
    score.notes[KIT] = [r for r in score.notes[KIT] if not first <= r[0] < end]
    for pos, drum, vel in hits:
        kit(score, bar, pos, drum, vel, 6 if drum == OPEN_HAT else 1)


def compose_kit(score):
    rnd = Humanise(127)
    for bar in range(4, 8):  # intro: hats (on the beats only at first) and a soft kick
        kit(score, bar, 0, KICK, 84 + 6 * (bar - 4))
        for pos in SHUFFLE_HATS if bar > 4 else (0, 3, 6, 9):
            kit(score, bar, pos, CLOSED_HAT, 44 + 4 * (bar - 4) + (8 if pos % 3 == 0 else 0) + rnd(3))
    fill(score, 7, [(9, SNARE, 84), (10, SNARE, 94), (11, SNARE, 104)])
    for bar in range(8, 16):
        shuffle_bar(score, bar, rnd, open_hat=bar % 2 == 1)
    kit(score, 8, 0, CRASH, CRASH_LEVEL)
    fill(score, 15, [(6, KICK, KICK_LEVEL), (7, SNARE, 88), (8, SNARE, 96), (9, KICK, KICK_LEVEL),
                     (10, SNARE, 100), (11, SNARE, 108)])
    for bar in range(16, 24):
        half_time_bar(score, bar, rnd)
    kit(score, 16, 0, CRASH, CRASH_LEVEL - 4)
    fill(score, 23, [(8, SNARE, 92), (9, SNARE, 100), (10, KICK, KICK_LEVEL), (11, SNARE, 110),
                     (11, OPEN_HAT, 80)])
    for bar in range(24, 32):
        ride_bar(score, bar, rnd)
    kit(score, 24, 0, LOW_CRASH, CRASH_LEVEL)
    # Into the breakdown: the groove stops on the last beat's first triplet.
    fill(score, 31, [(6, SNARE, 104), (7, SNARE, 90), (8, KICK, KICK_LEVEL), (9, SNARE, 112),
                     (9, KICK, KICK_LEVEL)])
    # Breakdown: a low crash to open it, then only the bell.
    kit(score, 32, 0, LOW_CRASH, 84)
    for bar in range(32, 40):
        kit(score, bar, 0, BELL, 58 + rnd(3))
        if bar >= 36:
            kit(score, bar, 6, BELL, 54 + rnd(3))
        if bar >= 38:
            kit(score, bar, 9, BELL, 50 + rnd(3))
    for pos, vel in ((9, 60), (11, 70)):
        kit(score, 39, pos, KICK, vel)
    # Build: kick on every beat, the snare doubling its pace.
    for bar in range(40, 42):
        for beat in range(4):
            kit(score, bar, 3 * beat, KICK, KICK_LEVEL - 8 + 3 * beat + 4 * (bar - 40))
    for beat in range(4):
        kit(score, 40, 3 * beat, SNARE, 70 + 6 * beat)
    for pos in range(12):
        kit(score, 41, pos, SNARE, 76 + 3 * pos)
    # Climax: crashes at the phrase starts, a short fill halfway and a long one at the end.
    for bar in CLIMAX:
        drive_bar(score, bar, rnd, lift=bar >= 46)
    kit(score, 42, 0, CRASH, CRASH_LEVEL + 4)
    kit(score, 46, 0, CRASH, CRASH_LEVEL - 4)
    fill(score, 45, [(9, SNARE, 96), (10, SNARE, 102), (11, SNARE, 108), (11, OPEN_HAT, 84)])
    fill(score, 49, [(6, KICK, KICK_LEVEL + 4), (6, SNARE, 100), (7, SNARE, 92), (8, SNARE, 100),
                     (9, KICK, KICK_LEVEL + 4), (9, SNARE, 104), (10, SNARE, 106), (11, SNARE, 110)])
    # Outro.
    kit(score, 50, 0, LOW_CRASH, CRASH_LEVEL)
    for bar in range(50, 53):
        shuffle_bar(score, bar, rnd, open_hat=bar != 52)
    fill(score, 52, [(6, SNARE, 96), (7, SNARE, 100), (8, SNARE, 104), (9, KICK, KICK_LEVEL),
                     (9, SNARE, 108), (10, SNARE, 108), (11, SNARE, 112)])
    # The last chord: crash, kick and snare together.
    kit(score, FINAL_BAR, 0, CRASH, CRASH_LEVEL)
    kit(score, FINAL_BAR, 0, KICK, KICK_LEVEL)
    kit(score, FINAL_BAR, 0, SNARE, 104)


# ---------------------------------------------------------------- checks

SAMPLE_RATE = 44100


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


SEC_PER_TICK = single(4.0 / 110.0)


def frame(seconds):
    return round(seconds * SAMPLE_RATE)  # ties to even, as the engine rounds


def drum_samples(note, length):
    fixed = {36: 7000, 38: 32000, 59: 60000, 61: 25000, 67: 150000, 69: 150000}
    if note in fixed:
        return fixed[note]
    seconds = single(length * SEC_PER_TICK)
    if seconds > 2:
        seconds = 2.0
    elif not seconds >= single(0.12):
        seconds = single(0.12)
    return round(seconds * SAMPLE_RATE + 2000)


def latest_voice_end(start, length, note, velocity, code):
    """An upper bound on the end frame of every voice of a record (exact for the kit).

    The tonal voices start up to 20 ms early but never late, so their unjittered start
    bounds them.
    """
    off = frame(single(start * SEC_PER_TICK))
    seconds = single(length * SEC_PER_TICK)
    if code == KIT:
        return off + drum_samples(note, length)
    tonal = round(seconds * SAMPLE_RATE + 4000)
    if code == BASS:
        return off + max(round(single(seconds * 0.5) * SAMPLE_RATE + 4000),
                         round(seconds * SAMPLE_RATE + 2000))
    return off + tonal


def stats(records):
    counts = {}
    for r in records:
        counts[r[4]] = counts.get(r[4], 0) + 1
    end_tick = max(s + l for s, l, _, _, _ in records)
    sized = frame(end_tick * SEC_PER_TICK) + SAMPLE_RATE
    past = [(i, latest_voice_end(*r)) for i, r in enumerate(records)
            if latest_voice_end(*r) > sized]
    progress = 0.0
    units = {25: single(0.3), 24: single(0.2), 26: single(0.2), 32: single(0.1),
             127: single(0.004)}
    for r in records:
        progress = single(progress + units[r[4]])
    return {
        "records": len(records),
        "blocks": [(code, counts.get(code, 0)) for code in BLOCK_ORDER],
        "start": (min(r[0] for r in records), max(r[0] for r in records)),
        "length": (min(r[1] for r in records), max(r[1] for r in records)),
        "note": (min(r[2] for r in records), max(r[2] for r in records)),
        "velocity": (min(r[3] for r in records), max(r[3] for r in records)),
        "bass velocity min": min(r[3] for r in records if r[4] == BASS),
        "end tick": end_tick,
        "MixLen sized": sized,
        "voices past it": past,
        "MixLen final": max([sized] + [e for _, e in past]),
        "drums": sorted({r[2] for r in records if r[4] == KIT}),
        "progress": progress,
        "record 2395": records[2395] if len(records) > 2395 else None,
    }


EXPECTED = {
    "records": 2398,
    "blocks": [(25, 1093), (24, 124), (32, 289), (26, 320), (127, 572)],
    "start": (0, 3273),
    "length": (1, 59),
    "note": (18, 74),
    "velocity": (27, 127),
    "end tick": 3276,
    "MixLen sized": 5297613,
    "MixLen final": 5297673,
    "drums": [36, 38, 59, 61, 63, 67, 69],
}


def problems(figures, records):
    out = []
    for key, want in EXPECTED.items():
        if figures[key] != want:
            out.append(f"{key}: {figures[key]} (want {want})")
    # File order must be the blocks, contiguous.
    codes = [r[4] for r in records]
    runs = [c for i, c in enumerate(codes) if i == 0 or codes[i - 1] != c]
    if runs != list(BLOCK_ORDER):
        out.append(f"blocks out of order: {runs}")
    r = figures["record 2395"]
    if r is None or (r[0], r[2], r[4]) != (3210, CRASH, KIT):
        out.append(f"record 2395 is {r}, want the crash at 3210")
    if [i for i, _ in figures["voices past it"]] != [2395]:
        out.append(f"voices past the sized bus: {figures['voices past it']}")
    if figures["bass velocity min"] != 42:
        out.append(f"quietest bass velocity {figures['bass velocity min']} (want 42)")
    return out


# ---------------------------------------------------------------- output

CODE_NAMES = {25: "arpeggio (pluck)", 24: "lead", 32: "bass", 26: "stabs and counter-melody",
              127: "kit"}


def render_text(records):
    lines = [
        "# quom's piece: one note a line, written by tools/compose.py (edit that, not this).",
        "# start length note velocity instrument; start and length in ticks of 4/110 s,",
        "# 15 ticks a beat; bar b starts at tick 30 + 60 b.",
    ]
    code = None
    section = None
    for s, l, n, v, c in records:
        if c != code:
            code, section = c, None
            lines += ["", f"# ==== instrument {c}: {CODE_NAMES[c]}"]
        sec = section_of(s)
        if sec != section:
            section = sec
            lines.append(f"# -- {SECTIONS[sec]}")
        lines.append(f"{s} {l} {n} {v} {c}")
    return "\n".join(lines) + "\n"


def compose():
    score = Score()
    compose_lead(score)  # first: the arpeggio keeps under it
    compose_pluck(score)
    compose_bass(score)
    compose_counter(score)
    compose_kit(score)
    return score.records()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="fail if the file is stale")
    parser.add_argument("--stats", action="store_true", help="print the figures")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..",
                                                      "resources", "score.txt"))
    args = parser.parse_args()

    records = compose()
    figures = stats(records)
    if args.stats:
        for key, value in figures.items():
            print(f"{key}: {value}")
    bad = problems(figures, records)
    if bad:
        print("the piece does not keep its figures:\n  " + "\n  ".join(bad), file=sys.stderr)
        return 1
    text = render_text(records)
    if args.check:
        with open(args.out, encoding="utf-8") as f:
            if f.read() != text:
                print(f"{args.out} is not what tools/compose.py writes", file=sys.stderr)
                return 1
        return 0
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
