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

Key F sharp minor. Form, by bars:

    pickup      two beats of rising arpeggio
    0 - 7       intro: arpeggio alone, then bass, hats and chords
    8 - 15      groove: full kit, shuffle bass, stabs, the lead's first call
    16 - 31     melody: the lead sings two eight-bar phrases
    32 - 39     breakdown: no kit but a bell, long bass, a counter-melody
    40 - 41     build: dominant pedal, snare roll
    42 - 49     climax: the melody in thirds, ride and full kit
    50 - 52     outro, a cadence onto
    53          the last chord with the crash, ringing out while the
                arpeggio slows down

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

PLUCK, LEAD, COUNTER, BASS, KIT = 25, 24, 26, 32, 127
BLOCK_ORDER = (PLUCK, LEAD, BASS, COUNTER, KIT)

KICK, SNARE, BELL, CLOSED_HAT, OPEN_HAT, LOW_CRASH, CRASH = 36, 38, 59, 61, 63, 67, 69


def tick(bar, pos=0):
    """Start tick of triplet `pos` (0..11) of `bar`; bar -1 is the pickup's bar."""
    return PICKUP + BAR * bar + TRIPLET * pos


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

# The bass register of each root: F#1 up to C#2, D and E below F#.
BASS_ROOT = {6: 30, 8: 32, 9: 33, 11: 35, 1: 37, 2: 26, 4: 28}

# Chord of every bar, 0 .. 53.
PROGRESSION = (
    ["F#m", "F#m", "D", "D", "A", "A", "E", "E"]           # intro
    + ["F#m", "D", "A", "E", "F#m", "D", "E", "C#"]        # groove
    + ["F#m", "D", "Bm", "C#", "F#m", "D", "E", "C#"]      # melody, first phrase
    + ["Bm", "D", "F#m", "E", "Bm", "D", "C#", "C#"]       # melody, second phrase
    + ["D", "E", "C#m", "F#m", "Bm", "D", "Esus", "E"]     # breakdown
    + ["C#", "C#"]                                         # build
    + ["F#m", "D", "Bm", "C#", "F#m", "D", "E", "C#"]      # climax
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


def scale(bar):
    """F sharp minor, with E sharp as leading tone over the dominant."""
    pcs = [6, 8, 9, 11, 1, 2, 4]
    if PROGRESSION[bar] == "C#":
        pcs[6] = 5
    return sorted(pcs)


def third_below(bar, note):
    """The diatonic third under `note` in the scale of `bar`."""
    pcs = scale(bar)
    steps = 0
    n = note
    while steps < 2:
        n -= 1
        if n % 12 in pcs:
            steps += 1
    return n


# ---------------------------------------------------------------- the list

class Score:
    def __init__(self):
        self.notes = {code: [] for code in BLOCK_ORDER}

    def add(self, code, start, length, note, velocity):
        assert 0 <= start and 1 <= length, (code, start, length)
        velocity = max(1, min(127, int(velocity)))
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


class Humanise:
    """A small fixed generator for velocity variation, so the file never changes."""

    def __init__(self, seed):
        self.state = seed

    def __call__(self, spread):
        self.state = (self.state * 1103515245 + 12345) % (1 << 31)
        return (self.state >> 16) % (2 * spread + 1) - spread


# ---------------------------------------------------------------- pluck

ARP_TOP = 74  # D5, the highest note of the piece


def arp_tones(bar, low):
    """Five chord tones from `low` up, moved down where they would pass ARP_TOP."""
    tones = ladder(bar, low, ARP_TOP)
    if len(tones) < 5:
        tones = ladder(bar, low - 12, ARP_TOP)[-5:]
    return tones[:5]


def arp_bar(score, bar, low, voices, base_vel, rnd, length=4, positions=range(12)):
    """One bar of the running arpeggio in triplet eighths, from chord tone `low` up.

    voices 1: a rolling six-note figure up and down the chord; in odd bars its second
    half sits one chord tone higher.
    voices 2: adds a second figure in contrary motion over the same chord tones.
    """
    tones = arp_tones(bar, low)
    figure = [0, 1, 2, 3, 2, 1]
    for pos in positions:
        accent = 12 if pos == 0 else (7 if pos % 3 == 0 else 0)
        vel = base_vel + accent + rnd(3)
        shift = 1 if pos >= 6 and bar % 2 else 0
        score.add(PLUCK, tick(bar, pos), length + (4 if pos == 0 else 0),
                  tones[figure[pos % 6] + shift], vel)
        if voices == 2:
            other = tones[3 - figure[pos % 6] + shift]
            score.add(PLUCK, tick(bar, pos), length, other, vel - 10)


def sparkle_bar(score, bar, base_vel, rnd):
    """Off-beat high chord tones on the middle triplet of each beat."""
    top = ladder(bar, 64, 74)
    for beat in range(4):
        note = top[-1] if beat % 2 else top[-2]
        score.add(PLUCK, tick(bar, 3 * beat + 1), 3, note, base_vel + rnd(3))


def compose_pluck(score):
    rnd = Humanise(25)
    # Pickup: the arpeggio climbs into bar 0 out of silence.
    for i, n in enumerate([54, 57, 61, 54, 57, 61]):
        score.add(PLUCK, tick(-1, 6 + i), 4, n, 42 + 4 * i)
    for bar in range(0, 4):  # intro, alone
        arp_bar(score, bar, 54, 1, 66 + 3 * bar, rnd)
    for bar in range(4, 8):
        arp_bar(score, bar, 54, 1, 72, rnd)
        sparkle_bar(score, bar, 55, rnd)
    for bar in range(8, 16):  # groove
        arp_bar(score, bar, 57, 2, 78, rnd)
    for bar in range(16, 32):  # melody: a little lower and softer, under the lead
        arp_bar(score, bar, 54, 2, 72, rnd)
    # Breakdown: one voice, softer; it steps aside on the first downbeat and runs
    # with gaps for four bars.
    for bar in range(32, 36):
        gapped = [p for p in range(12) if p % 3 != 2 and (bar, p) != (32, 0)]
        arp_bar(score, bar, 54, 1, 60, rnd, positions=gapped)
    for bar in range(36, 40):
        arp_bar(score, bar, 54, 1, 64, rnd)
    for bar in range(40, 42):  # build: both voices, rising
        arp_bar(score, bar, 57 + 4 * (bar - 40), 2, 76 + 8 * (bar - 40), rnd)
    for bar in range(42, 50):  # climax
        arp_bar(score, bar, 61, 2, 84, rnd)
    for bar in range(50, 53):  # outro
        arp_bar(score, bar, 54, 2, 78 - 4 * (bar - 50), rnd)
    # The last chord: the arpeggio slows to a stop and fades out.
    # Its last note, the softest of the piece, ends on the piece's last tick.
    starts = [3210, 3216, 3223, 3231, 3240, 3250, 3261, 3273]
    notes = [54, 57, 61, 66, 69, 73, 69, 66]
    velocities = [84, 76, 68, 60, 52, 44, 36, 27]
    ends = starts[1:] + [3276]
    for s, e, n, v in zip(starts, ends, notes, velocities):
        score.add(PLUCK, s, e - s, n, v)


# ---------------------------------------------------------------- lead

# Phrases as "NOTE:triplets" with "r" for a rest; each bar fills 12 triplets.
LEAD_PHRASES = {
    # groove: the first call, answered by the arpeggio
    12: "r:6 C#5:3 B4:3",
    13: "A4:12",
    14: "r:6 C#5:3 B4:3",
    15: "G#4:12",
    # melody, first phrase
    16: "C#5:6 B4:3 A4:3",
    17: "F#4:9 A4:3",
    18: "B4:6 D5:3 C#5:3",
    19: "G#4:9 C#5:3",
    20: "C#5:6 B4:3 A4:3",
    21: "D5:9 C#5:3",
    22: "B4:6 G#4:3 B4:3",
    23: "A4:3 G#4:3 E#4:6",
    # melody, second phrase
    24: "F#4:3 B4:3 D5:6",
    25: "C#5:6 A4:3 F#4:3",
    26: "A4:6 C#5:6",
    27: "B4:9 G#4:3",
    28: "D5:6 C#5:3 B4:3",
    29: "A4:6 F#4:3 A4:3",
    30: "G#4:6 E#4:3 G#4:3",
    31: "C#5:12",
    # breakdown: long, quieter
    32: "A4:12",
    33: "B4:9 G#4:3",
    34: "G#4:6 E4:6",
    35: "F#4:12",
    36: "D5:6 C#5:3 B4:3",
    37: "A4:9 F#4:3",
    38: "A4:6 B4:6",
    39: "G#4:12",
    # build: climbing the dominant
    40: "C#4:3 E#4:3 G#4:3 C#5:3",
    41: "E#4:3 G#4:3 C#5:6",
    # outro
    50: "C#5:6 B4:3 A4:3",
    51: "F#4:12",
    52: "G#4:6 E#4:3 C#5:3",
}

# The climax sings the first melody phrase again, in thirds, a little ornamented.
CLIMAX_PHRASES = {
    42: "C#5:6 B4:3 A4:3",
    43: "F#4:6 A4:3 C#5:3",
    44: "B4:6 D5:3 C#5:3",
    45: "G#4:9 C#5:3",
    46: "C#5:6 B4:3 A4:3",
    47: "D5:9 C#5:3",
    48: "B4:6 G#4:3 B4:3",
    49: "A4:3 G#4:3 E#4:3 G#4:3",
}


def phrase_notes(text):
    pos = 0
    for item in text.split():
        name, dur = item.split(":")
        dur = int(dur)
        if name != "r":
            yield pos, dur, pitch(name)
        pos += dur
    assert pos == 12, text


def compose_lead(score):
    rnd = Humanise(24)
    for bar, text in LEAD_PHRASES.items():
        if bar < 16:
            base = 104
        elif bar < 32:
            base = 114
        elif bar < 40:
            base = 104
        elif bar < 42:
            base = 108 + 6 * (bar - 40)
        else:
            base = 112
        for pos, dur, note in phrase_notes(text):
            accent = 6 if pos == 0 else 0
            score.add(LEAD, tick(bar, pos), min(59, dur * TRIPLET - 1), note,
                      base + accent + rnd(2))
    for bar, text in CLIMAX_PHRASES.items():
        for pos, dur, note in phrase_notes(text):
            vel = 118 + (6 if pos == 0 else 0) + rnd(2)
            length = min(59, dur * TRIPLET - 1)
            score.add(LEAD, tick(bar, pos), length, note, vel)
            score.add(LEAD, tick(bar, pos), length, third_below(bar, note), vel - 8)
    # The last chord.
    for note in (pitch("F#4"), pitch("A4"), pitch("C#5")):
        score.add(LEAD, 3210, 59, note, 112)


# ---------------------------------------------------------------- bass

def bass_root(bar):
    return BASS_ROOT[chord(bar)[0]]


def bass_bar(score, bar, pattern, base_vel, rnd):
    """pattern: (triplet, length in triplets, what) with what one of
    'r' root, 'o' octave, 'f' fifth, 'a' approach to the next bar's root."""
    r = bass_root(bar)
    for pos, dur, what in pattern:
        note = {"r": r, "o": r + 12, "f": r + 7}.get(what)
        if what == "a":
            nxt = bass_root(bar + 1)
            note = nxt - 1 if nxt != r else r + 7
        accent = 14 if pos == 0 else (6 if pos % 3 == 0 else 0)
        score.add(BASS, tick(bar, pos), dur * TRIPLET - 1, note, base_vel + accent + rnd(3))


SHUFFLE_BUSY = [(0, 2, "r"), (2, 1, "r"), (3, 2, "o"), (5, 1, "r"), (6, 2, "r"),
                (8, 1, "f"), (9, 2, "o"), (11, 1, "a")]
SHUFFLE = [(0, 3, "r"), (3, 2, "r"), (5, 1, "o"), (6, 3, "r"), (9, 2, "f"), (11, 1, "a")]


def compose_bass(score):
    rnd = Humanise(32)
    # Intro: the bass comes in from nothing, one long note a bar.
    for i, bar in enumerate(range(4, 8)):
        r = bass_root(bar)
        score.add(BASS, tick(bar), 44, r, 42 + 12 * i)
        score.add(BASS, tick(bar, 9), 14, r + 12 if i % 2 else r, 50 + 12 * i)
    for bar in range(8, 16):
        bass_bar(score, bar, SHUFFLE_BUSY, 96, rnd)
    for bar in range(16, 32):
        bass_bar(score, bar, SHUFFLE, 92, rnd)
    for bar in range(32, 36):  # breakdown: whole notes
        score.add(BASS, tick(bar), 59, bass_root(bar), 88)
    for bar in range(36, 39):
        bass_bar(score, bar, [(0, 6, "r"), (6, 6, "o")], 80, rnd)
    bass_bar(score, 39, [(0, 6, "r"), (6, 3, "o"), (9, 2, "f"), (11, 1, "a")], 84, rnd)
    for bar in range(40, 42):  # build: pulse on the dominant, louder each beat
        for pos in range(12):
            score.add(BASS, tick(bar, pos), 4, bass_root(bar), 78 + 2 * (12 * (bar - 40) + pos) // 3)
    for bar in range(42, 50):
        bass_bar(score, bar, SHUFFLE_BUSY, 100, rnd)
    for bar in range(50, 53):
        bass_bar(score, bar, SHUFFLE, 92 - 4 * (bar - 50), rnd)
    # The last chord: the tonic an octave below everything else.
    score.add(BASS, 3210, 59, pitch("F#0"), 120)


# ---------------------------------------------------------------- counter

def voicing(bar, centre=62):
    """Three adjacent chord tones around `centre`."""
    tones = ladder(bar, 50, 76)
    best = min(range(len(tones) - 2), key=lambda i: (abs(sum(tones[i:i + 3]) / 3 - centre), i))
    return tones[best:best + 3]


def stab(score, bar, pos, dur, vel, centre=62):
    for note in voicing(bar, centre):
        score.add(COUNTER, tick(bar, pos), dur, note, vel)


# A counter-melody for the breakdown, answering the lead's long notes.
COUNTER_PHRASES = {
    32: "r:6 F#4:3 E4:3",
    33: "r:6 E4:3 G#4:3",
    34: "r:6 C#4:3 E4:3",
    35: "r:6 A4:3 G#4:3",
    36: "r:6 F#4:3 D4:3",
    37: "r:6 F#4:3 A4:3",
    38: "r:6 E4:3 A4:3",
    39: "r:3 B3:3 E4:3 G#4:3",
}


def compose_counter(score):
    rnd = Humanise(26)
    for bar in range(4, 8):  # intro: a held chord a bar
        stab(score, bar, 0, 59, 62 + 2 * (bar - 4))
    for bar in range(8, 32):  # groove and melody: backbeat stabs
        stab(score, bar, 3, 9, 90 + rnd(3))
        stab(score, bar, 9, 9, 94 + rnd(3))
    for bar, text in COUNTER_PHRASES.items():
        for pos, dur, note in phrase_notes(text):
            score.add(COUNTER, tick(bar, pos), dur * TRIPLET - 1, note, 92 + rnd(3))
    for bar in range(40, 42):  # build: every beat
        for beat in range(4):
            stab(score, bar, 3 * beat, 9, 80 + 6 * beat + 12 * (bar - 40))
    for bar in range(42, 50):  # climax: backbeats and their pushes
        for pos, vel in ((3, 100), (5, 88), (9, 104), (11, 92)):
            stab(score, bar, pos, 4 if pos % 3 else 9, vel + rnd(2), centre=65)
    for bar in range(50, 53):
        stab(score, bar, 3, 9, 90)
        if bar < 52:
            stab(score, bar, 8, 4, 82)
        stab(score, bar, 9, 9, 90)
    stab(score, FINAL_BAR, 0, 59, 96)


# ---------------------------------------------------------------- kit

def kit(score, bar, pos, drum, vel, length=1):
    score.add(KIT, tick(bar, pos), length, drum, vel)


SHUFFLE_HATS = (0, 2, 3, 5, 6, 8, 9, 11)


def groove_bar(score, bar, rnd, open_hat=False, fill=False, ride=False):
    kit(score, bar, 0, KICK, 110 + rnd(2))
    kit(score, bar, 6, KICK, 104 + rnd(2))
    kit(score, bar, 8, KICK, 90 + rnd(3))
    kit(score, bar, 3, SNARE, 110 + rnd(3))
    kit(score, bar, 9, SNARE, 114 + rnd(3))
    if bar != 8:
        kit(score, bar, 7, SNARE, 36 + rnd(3))  # ghost, but not under the first crash
    if ride:
        for pos in (0, 3, 6, 9):
            kit(score, bar, pos, BELL, 92 + rnd(3))
        for pos in (2, 5, 8):
            kit(score, bar, pos, CLOSED_HAT, 70 + rnd(4))
        if fill:
            kit(score, bar, 10, SNARE, 100)
            kit(score, bar, 11, SNARE, 108)
        else:
            kit(score, bar, 11, OPEN_HAT if open_hat else CLOSED_HAT, 74, 6 if open_hat else 1)
        return
    for pos in SHUFFLE_HATS:
        if fill and pos >= 9:
            continue
        if open_hat and pos == 11:
            kit(score, bar, pos, OPEN_HAT, 82 + rnd(3), 6)
        else:
            kit(score, bar, pos, CLOSED_HAT, (84 if pos % 3 == 0 else 66) + rnd(4))
    if fill:
        kit(score, bar, 10, SNARE, 96)
        kit(score, bar, 11, SNARE, 104)


def compose_kit(score):
    rnd = Humanise(127)
    for bar in range(4, 8):  # intro: hats (on the beats only at first) and a soft kick
        kit(score, bar, 0, KICK, 90 + 6 * (bar - 4))
        for pos in SHUFFLE_HATS if bar > 4 else (0, 3, 6, 9):
            kit(score, bar, pos, CLOSED_HAT, 44 + 4 * (bar - 4) + (8 if pos % 3 == 0 else 0) + rnd(3))
    for pos, vel in ((9, 84), (10, 94), (11, 104)):
        kit(score, 7, pos, SNARE, vel)
    kit(score, 8, 0, CRASH, 116)
    for bar in range(8, 32):
        groove_bar(score, bar, rnd, open_hat=bar % 2 == 1, fill=bar % 8 == 7)
    kit(score, 16, 0, CRASH, 120)
    kit(score, 24, 0, LOW_CRASH, 116)
    # Breakdown: a low crash to open it, then only the bell.
    kit(score, 32, 0, LOW_CRASH, 100)
    for bar in range(32, 40):
        kit(score, bar, 0, BELL, 70 + rnd(3))
        if bar >= 36:
            kit(score, bar, 6, BELL, 60 + rnd(3))
    # Build: kick on every beat, the snare doubling its pace.
    for bar in range(40, 42):
        for beat in range(4):
            kit(score, bar, 3 * beat, KICK, 100 + 4 * beat + 8 * (bar - 40))
    for beat in range(4):
        kit(score, 40, 3 * beat, SNARE, 70 + 6 * beat)
    for pos in range(12):
        kit(score, 41, pos, SNARE, 80 + 4 * pos)
    # Climax: ride bell on the beats, crashes at the phrase starts.
    kit(score, 42, 0, CRASH, 127)
    kit(score, 42, 0, LOW_CRASH, 110)
    kit(score, 46, 0, LOW_CRASH, 118)
    for bar in range(42, 50):
        groove_bar(score, bar, rnd, open_hat=bar % 2 == 1, fill=bar == 49, ride=True)
    # Outro.
    kit(score, 50, 0, CRASH, 116)
    for bar in range(50, 53):
        groove_bar(score, bar, rnd, open_hat=bar != 52, fill=bar == 52)
    # The last chord: crash, kick and snare together.
    kit(score, FINAL_BAR, 0, CRASH, 124)
    kit(score, FINAL_BAR, 0, KICK, 127)
    kit(score, FINAL_BAR, 0, SNARE, 118)


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

SECTIONS = {-1: "pickup", 0: "intro", 8: "groove", 16: "melody, first phrase",
            24: "melody, second phrase", 32: "breakdown", 40: "build", 42: "climax",
            50: "outro", 53: "last chord"}
CODE_NAMES = {25: "arpeggio (pluck)", 24: "lead", 32: "bass", 26: "stabs and counter-melody",
              127: "kit"}


def section_of(start):
    bar = (start - PICKUP) // BAR
    return max(b for b in SECTIONS if b <= bar)


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
    compose_pluck(score)
    compose_lead(score)
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
