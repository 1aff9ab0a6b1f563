#!/usr/bin/env python3
"""Playback on a terminal, steered through a pseudo-terminal: pause, resume and the arrows checked
against what SDL's disk driver played, the status line, and the terminal's modes after every way
out (the end, q, Esc, Ctrl-C, a request to terminate).

    keys.py BUILD_DIR
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import fcntl

BIN = os.path.abspath(sys.argv[1])
QUOM = os.path.join(BIN, "quom")
WORK = tempfile.mkdtemp(prefix="quom-keys.")
FRAME = 4  # bytes of a 16-bit stereo frame
SEEK = 5 * 44100 * FRAME  # what an arrow moves
RIGHT, LEFT, ESC, CTRL_C = b"\x1b[C", b"\x1b[D", b"\x1b", b"\x03"


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def score(path, seconds):
    """A melody and a drum on every beat, `seconds` long (ticks of 4/110 s)."""
    with open(path, "w") as f:
        for t in range(0, int(seconds * 27.5) - 8, 8):
            f.write(f"{t} 8 {57 + t % 24 // 8 * 2} 100 25\n{t} 1 36 120 127\n")


def wav_data(path):
    """The sample bytes of a WAV file's data chunk."""
    data = open(path, "rb").read()
    at = 12
    while data[at:at + 4] != b"data":
        at += 8 + int.from_bytes(data[at + 4:at + 8], "little")
    return data[at + 8:at + 8 + int.from_bytes(data[at + 4:at + 8], "little")]


def common(a, ai, b, bi):
    """How many bytes a[ai:] and b[bi:] have in common from their start, in whole frames."""
    n, step = 0, 1 << 16
    while step >= FRAME:
        while a[ai + n:ai + n + step] == b[bi + n:bi + n + step] and ai + n + step <= len(a) \
                and bi + n + step <= len(b):
            n += step
        step //= 2
    return n


def segments(piece, played):
    """What was played, as ("piece", start, length) and ("silence", length) in bytes."""
    out, i, p = [], 0, None
    while i < len(played):
        if p is not None:
            n = common(played, i, piece, p)
            if n:
                if out and out[-1][0] == "piece" and out[-1][1] + out[-1][2] == p:
                    out[-1][2] += n
                else:
                    out.append(["piece", p, n])
                i, p = i + n, p + n
                continue
        if played[i:i + FRAME] == bytes(FRAME):
            n = FRAME
            while played[i + n:i + n + FRAME] == bytes(FRAME):
                n += FRAME
            out.append(["silence", n])
            i += n
            continue
        chunk = played[i:i + 4096]
        p = piece.find(chunk)
        while p >= 0 and p % FRAME:
            p = piece.find(chunk, p + 1)
        if p < 0:
            fail(f"played bytes at {i} are nowhere in the piece")
    return out


class Run:
    """quom on a pseudo-terminal of its own, in its foreground, as a shell would start it."""

    def __init__(self, *args, delay=None):
        self.master, self.slave = pty.openpty()
        self.modes = termios.tcgetattr(self.slave)
        env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=f"{WORK}/played.raw")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("SDL_DISKAUDIODELAY", None)
        if delay is not None:
            env["SDL_DISKAUDIODELAY"] = str(delay)
        if os.path.exists(f"{WORK}/played.raw"):
            os.remove(f"{WORK}/played.raw")
        self.proc = subprocess.Popen(
            [QUOM, *args], stdin=self.slave, stdout=self.slave, stderr=self.slave, env=env,
            start_new_session=True, preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        self.screen = ""

    def read(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                self.screen += os.read(self.master, 4096).decode(errors="replace")
            except OSError:
                break

    def status(self):
        """The state and the seconds of the status line as last drawn."""
        found = re.findall(r"(playing|paused ) (\d+):(\d\d) /", self.screen)
        if not found:
            return None, -1
        state, minutes, seconds = found[-1]
        return state.strip(), int(minutes) * 60 + int(seconds)

    # Generous, for the sanitized build on a busy machine: a wait that ends early costs nothing.
    def wait_for(self, what, seconds=300):
        end = time.time() + seconds
        while time.time() < end:
            self.read()
            if what(*self.status()):
                return
            if self.proc.poll() is not None:
                fail(f"quom ended early ({self.proc.returncode}):\n{self.screen}")
            time.sleep(0.01)
        fail(f"the status line never got there:\n{self.screen}")

    def press(self, key):
        os.write(self.master, key)

    def finish(self, status, seconds=5):
        try:
            self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            fail(f"quom did not end within {seconds} s:\n{self.screen}")
        self.read()
        if self.proc.returncode != status:
            fail(f"status {self.proc.returncode}, expected {status}:\n{self.screen}")
        if termios.tcgetattr(self.slave) != self.modes:
            fail("the terminal's modes were not restored")
        os.close(self.master)
        os.close(self.slave)


def steer():
    print("-- space pauses and resumes, the arrows move five seconds, then the piece ends")
    score(f"{WORK}/long.txt", 14)
    subprocess.run([QUOM, "--quiet", "--score", f"{WORK}/long.txt", "--wav",
                    f"{WORK}/long.wav"], check=True)
    piece = wav_data(f"{WORK}/long.wav")
    run = Run("--score", f"{WORK}/long.txt", delay=25)  # about four times real time
    run.wait_for(lambda state, s: state == "playing" and s >= 1)
    run.press(b" ")
    run.wait_for(lambda state, s: state == "paused")
    time.sleep(0.3)
    run.press(b" ")
    run.wait_for(lambda state, s: state == "playing" and s >= 2)
    run.press(RIGHT)
    run.wait_for(lambda state, s: s >= 8)  # some of the new place heard before going back
    run.press(LEFT)
    run.wait_for(lambda state, s: s <= 5)
    run.finish(0, 30)
    if "(space: pause, left/right: 5 s, q: stop)" not in run.screen:
        fail("the status line does not name the keys:\n" + run.screen)

    played = open(f"{WORK}/played.raw", "rb").read()
    parts = [s for s in segments(piece, played)]
    while parts and parts[0][0] == "silence":
        parts.pop(0)
    while parts and parts[-1][0] == "silence":
        parts.pop()
    kinds = [p[0] for p in parts]
    if kinds != ["piece", "silence", "piece", "piece", "piece"]:
        fail(f"played: {parts}")
    a, _, b, c, d = parts
    lead = len(piece) - len(piece.lstrip(b"\0"))
    if a[1] != lead - lead % FRAME:  # silence that opens the piece is told from no silence
        fail(f"the piece did not start at its start: {parts}")
    if b[1] != a[1] + a[2]:
        fail(f"the sound did not go on where it was paused: {parts}")
    if c[1] != b[1] + b[2] + SEEK:
        fail(f"the right arrow did not skip five seconds: {parts}")
    if d[1] != c[1] + c[2] - SEEK:
        fail(f"the left arrow did not go back five seconds: {parts}")
    if d[1] + d[2] != len(piece):
        fail(f"the piece did not play to its end: {parts}")
    print(f"   paused at {a[2] / FRAME / 44100:.2f} s for {parts[1][1] / FRAME / 44100:.2f} s, "
          f"skipped at {(b[1] + b[2]) / FRAME / 44100:.2f} s, "
          f"back at {(c[1] + c[2]) / FRAME / 44100:.2f} s")


def ways_out():
    score(f"{WORK}/short.txt", 6)
    cases = [
        ("q, looping forever", b"q", 0, ["--loop", "forever"], "pass 1, looping"),
        ("Esc, the second of three passes", ESC, 0, ["--loop", "3"], "pass 2 of 3"),
        ("Ctrl-C", CTRL_C, 130, [], "playing"),
        ("a request to terminate", None, 143, [], "playing"),
    ]
    for name, key, status, args, shown in cases:
        print(f"-- {name}")
        run = Run("--score", f"{WORK}/short.txt", *args, delay=25)
        if "pass 2" in shown:
            run.wait_for(lambda state, s: "pass 2" in run.screen)
        else:
            run.wait_for(lambda state, s: state == "playing")
        time.sleep(0.2)
        if key is None:
            run.proc.send_signal(signal.SIGTERM)
        else:
            run.press(key)
        run.finish(status)
        if shown not in run.screen:
            fail(f"'{shown}' not on the status line:\n{run.screen}")


try:
    steer()
    ways_out()
finally:
    shutil.rmtree(WORK, ignore_errors=True)
print("PASS")
