#!/usr/bin/python3
"""Writes the MIDI test files of tests/data/midi/ and the records each should become.

The files are made with mido (Debian: python3-mido), a writer independent of quom's, which
uses running status and writes whatever note-offs it is given. For each NAME.mid the script
also writes NAME.txt: the note list quom should read from it, worked out here on its own
terms, with exact fractions: seconds from the tempo map, times 27.5 ticks a second, rounded
half to even; the length is the rounded end minus the rounded start, at least one tick; the
notes by start, then track, then their order in the track. The tests compare the two, so
this script is only needed to change the files:

    tools/make_midi_testdata.py             write tests/data/midi/
    tools/make_midi_testdata.py --check     fail unless the folder is what the script writes
"""

import argparse
import io
import os
import struct
import sys
from fractions import Fraction

import mido

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "midi")
TICKS_PER_SECOND = Fraction(55, 2)  # a list tick is 4/110 s

# Codes the default map gives the programs used below (channel 10 is always the kit).
PROGRAM_CODE = {0: 25, 6: 25, 24: 25, 33: 32, 38: 32, 48: 26, 80: 24, 89: 26, 56: 24}
# Kit sounds of the General MIDI drum keys used below; None: no sound here, dropped.
DRUM_SOUND = {35: 36, 36: 36, 38: 38, 39: 39, 40: 40, 42: 61, 44: 61, 46: 63, 49: 69, 51: 59,
              53: 59, 57: 67, 52: 67, 37: None, 45: None, 62: None}


class Song:
    """Notes placed in absolute MIDI ticks, written with mido and worked out by hand."""

    def __init__(self, division, file_type=1, smpte=None):
        self.division = division  # ticks a quarter note, or ticks a frame with smpte
        self.smpte = smpte        # frames a second (Fraction), or None
        self.file_type = file_type
        self.tracks = []          # each: list of (tick, order, message)
        self.tempos = []          # (tick, microseconds a quarter)
        self.notes = []           # (start, end, track, order, key, velocity, code)

    def track(self, name=None):
        self.tracks.append([])
        t = len(self.tracks) - 1
        if name:
            self.add(t, 0, mido.MetaMessage("track_name", name=name))
        return t

    def add(self, t, tick, msg):
        self.tracks[t].append((tick, len(self.tracks[t]), msg))

    def tempo(self, t, tick, us):
        self.add(t, tick, mido.MetaMessage("set_tempo", tempo=us))
        self.tempos.append((tick, us))

    def program(self, t, tick, channel, program):
        self.add(t, tick, mido.Message("program_change", channel=channel, program=program))

    def note(self, t, start, end, key, velocity, channel, code=None, off="zero"):
        """A note from start to end; off is 'zero' (note-on of velocity 0) or 'off'."""
        self.add(t, start, mido.Message("note_on", channel=channel, note=key, velocity=velocity))
        order = len(self.tracks[t]) - 1
        if off == "zero":
            self.add(t, end, mido.Message("note_on", channel=channel, note=key, velocity=0))
        elif off == "off":
            self.add(t, end, mido.Message("note_off", channel=channel, note=key, velocity=64))
        if code is None:
            return
        if code == 127:
            key = DRUM_SOUND[key]
            if key is None:
                return
        self.notes.append((start, end, t, order, key, velocity, code))

    def seconds(self, tick):
        if self.smpte is not None:
            return Fraction(tick) / (self.smpte * self.division)
        tempos = sorted(self.tempos, key=lambda x: x[0])
        at, us, total = 0, 500000, Fraction(0)
        for when, new in tempos:
            if when > tick:
                break
            total += Fraction((when - at) * us, 10**6 * self.division)
            at, us = when, new
        return total + Fraction((tick - at) * us, 10**6 * self.division)

    def records(self):
        out = []
        for start, end, t, order, key, velocity, code in sorted(
                self.notes, key=lambda n: (n[0], n[2], n[3])):
            s = round(self.seconds(start) * TICKS_PER_SECOND)
            e = round(self.seconds(end) * TICKS_PER_SECOND)
            if s >= 32767:
                continue  # past the list's last tick: dropped
            out.append((s, min(max(1, e - s), 32767 - s), key, velocity, code))
        return out

    def midi_bytes(self):
        if self.smpte is not None:
            fps = {Fraction(24): 24, Fraction(25): 25, Fraction(30000, 1001): 29, Fraction(30): 30}
            division = struct.unpack(">h", bytes([256 - fps[self.smpte], self.division]))[0]
        else:
            division = self.division
        f = mido.MidiFile(type=self.file_type, ticks_per_beat=division)
        for events in self.tracks:
            track = mido.MidiTrack()
            now = 0
            for tick, _, msg in sorted(events, key=lambda e: (e[0], e[1])):
                track.append(msg.copy(time=tick - now))
                now = tick
            f.tracks.append(track)
        buf = io.BytesIO()
        f.save(file=buf)
        return buf.getvalue()


def sixteenths_120():
    """Format 0 at 120 bpm: a bar of sixteenths (3.4375 ticks each), a held chord."""
    s = Song(96, file_type=0)
    t = s.track("sixteenths")
    s.tempo(t, 0, 500000)
    s.program(t, 0, 0, 0)
    for i in range(16):
        s.note(t, 24 * i, 24 * i + 24, 60 + (i % 8), 100 - i, 0, code=25)
    for key in (48, 52, 55):
        s.note(t, 384, 768, key, 90, 0, code=25)
    return s


def tempo_changes():
    """Format 1: 100 bpm, then 140 from bar 2, then 75 from bar 3; three instruments."""
    s = Song(480)
    c = s.track("tempo")
    s.tempo(c, 0, 600000)
    s.tempo(c, 1920, 428571)
    s.tempo(c, 3840, 800000)
    s.add(c, 0, mido.MetaMessage("time_signature", numerator=4, denominator=4))
    bass = s.track("bass")
    s.program(bass, 0, 1, 33)
    lead = s.track("lead")
    s.program(lead, 0, 2, 80)
    pad = s.track("strings")
    s.program(pad, 0, 3, 48)
    for beat in range(12):
        s.note(bass, 480 * beat, 480 * beat + 400, 36 + beat % 5, 110, 1, code=32, off="off")
        s.note(lead, 480 * beat + 240, 480 * beat + 720, 72 - beat, 80 + beat, 2, code=24)
    for bar in range(3):
        for key in (60, 64, 67):
            s.note(pad, 1920 * bar, 1920 * bar + 1900, key + bar, 70, 3, code=26)
    return s


def drums():
    """Format 1 at 90 bpm: a General MIDI kit on channel 10, with keys that have no sound here."""
    s = Song(192)
    c = s.track("tempo")
    s.tempo(c, 0, 666667)
    kit = s.track("drums")
    keys = [35, 36, 38, 40, 39, 42, 44, 46, 49, 51, 53, 57, 52, 37, 45, 62]
    for i, key in enumerate(keys):
        s.note(kit, 48 * i, 48 * i + 12, key, 127 - 4 * i, 9, code=127)
    # A drum track may hold other channels: a bass on 5 with no program plays as program 0.
    s.note(kit, 0, 192, 40, 100, 4, code=25)
    return s


def overlaps():
    """Same-key notes on one channel: overlapping, nested, repeated; paired first in first out."""
    s = Song(120)
    t = s.track("overlaps")
    s.program(t, 0, 0, 24)

    def on(tick, key, vel):
        s.add(t, tick, mido.Message("note_on", channel=0, note=key, velocity=vel))

    def off(tick, key):
        s.add(t, tick, mido.Message("note_on", channel=0, note=key, velocity=0))

    # 60: on at 0 and 60, offs at 120 and 240: the first off ends the first note.
    on(0, 60, 100)
    on(60, 60, 90)
    off(120, 60)
    off(240, 60)
    s.notes += [(0, 120, t, 1, 60, 100, 25), (60, 240, t, 2, 60, 90, 25)]
    # 64: nested in the file (on 0, on 30, off 90, off 300): still first in, first out.
    on(0, 64, 80)
    on(30, 64, 70)
    off(90, 64)
    off(300, 64)
    s.notes += [(0, 90, t, 5, 64, 80, 25), (30, 300, t, 6, 64, 70, 25)]
    # 67: a release before any press is ignored; three presses at once, released one by one.
    off(10, 67)
    for _ in range(3):
        on(120, 67, 60)
    for i in range(3):
        off(150 + 30 * i, 67)
    s.notes += [(120, 150, t, 10, 67, 60, 25), (120, 180, t, 11, 67, 60, 25),
                (120, 210, t, 12, 67, 60, 25)]
    # 69 on another channel, program 0 there too: its own queue.
    s.add(t, 0, mido.Message("note_on", channel=1, note=67, velocity=50))
    s.add(t, 30, mido.Message("note_off", channel=1, note=67, velocity=0))
    s.notes.append((0, 30, t, 16, 67, 50, 25))
    return s


def smpte():
    """SMPTE division: 25 frames a second of 40 ticks (milliseconds), and 29.97 drop frame."""
    s = Song(40, smpte=Fraction(25))
    t = s.track("milliseconds")
    s.program(t, 0, 0, 6)
    for i, ms in enumerate([0, 18, 19, 54, 55, 127, 500, 1000, 1001]):
        s.note(t, ms, ms + 5 + 50 * i, 60 + i, 100, 0, code=25)
    return s


def smpte_drop():
    s = Song(80, smpte=Fraction(30000, 1001))
    t = s.track("drop frame")
    s.program(t, 0, 0, 89)
    for i in range(8):
        s.note(t, 300 * i, 300 * i + 290, 50 + i, 90, 0, code=26)
    return s


def extras():
    """What a list cannot hold, and what the reader skips: system exclusive, controllers, pitch
    bends and aftertouch; a note never released; notes past tick 32767 and across it. After
    mido has written it, an unknown chunk goes in before the track and the track loses its
    end-of-track event (see extras_bytes)."""
    s = Song(96)
    t = s.track("extras")
    s.add(t, 0, mido.Message("sysex", data=[0x7E, 0x7F, 0x09, 0x01]))
    s.program(t, 0, 0, 56)
    s.add(t, 0, mido.Message("control_change", channel=0, control=7, value=100))
    s.note(t, 0, 48, 60, 100, 0, code=24)
    s.add(t, 10, mido.Message("pitchwheel", channel=0, pitch=2000))
    s.add(t, 20, mido.Message("aftertouch", channel=0, value=50))
    s.add(t, 30, mido.Message("polytouch", channel=0, note=60, value=50))
    s.note(t, 96, 144, 62, 90, 0, code=24)
    # Tick 32767 at 120 bpm is 1191.5 s: 228,768 MIDI ticks.
    s.note(t, 228700, 228900, 64, 80, 0, code=24)   # cut short at tick 32767
    s.note(t, 228800, 229000, 65, 80, 0, code=24)   # starts past it: dropped
    s.add(t, 229000, mido.Message("note_on", channel=0, note=67, velocity=70))
    s.notes.append((192, 229000, t, 100, 67, 70, 24))  # never released: ends with the track
    # ... which starts at 192: move its press there.
    s.tracks[t][-1] = (192, s.tracks[t][-1][1], s.tracks[t][-1][2])
    s.add(t, 229000, mido.MetaMessage("text", text="the end"))
    return s


def extras_bytes(song):
    data = song.midi_bytes()
    header, track = data[:14], data[14:]
    assert track[-3:] == b"\xff\x2f\x00" and track[-4] == 0
    body = track[8:-4]  # without its final delta and end-of-track
    unknown = b"XFIH" + struct.pack(">L", 5) + b"hello"
    return header + unknown + b"MTrk" + struct.pack(">L", len(body)) + body


def all_files():
    return {
        "sixteenths_120.mid": sixteenths_120(),
        "tempo_changes.mid": tempo_changes(),
        "drums.mid": drums(),
        "overlaps.mid": overlaps(),
        "smpte_25.mid": smpte(),
        "smpte_2997.mid": smpte_drop(),
        "extras.mid": extras(),
    }


def expected_text(song):
    lines = ["# start length note velocity instrument"]
    lines += [" ".join(str(v) for v in r) for r in song.records()]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    stale = []
    for name, song in all_files().items():
        midi = extras_bytes(song) if name == "extras.mid" else song.midi_bytes()
        for path, data in ((name, midi),
                           (name[:-4] + ".txt", expected_text(song).encode())):
            full = os.path.join(OUT, path)
            if args.check:
                with open(full, "rb") as f:
                    if f.read() != data:
                        stale.append(path)
            else:
                os.makedirs(OUT, exist_ok=True)
                with open(full, "wb") as f:
                    f.write(data)
    if stale:
        print("out of date: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
