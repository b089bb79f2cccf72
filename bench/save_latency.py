#!/usr/bin/env python3
"""Save-to-DECODED latency of the live player.

Runs the built player on a tune file with SDL's dummy sound driver (which
takes a buffer in real time) at 44100 Hz, where the stream runs 1024-frame
buffers (23.2 ms), saves the file many times at random moments, and times
each save from the end of the write (the file written whole and closed) to
the moment the player's "DECODED" line arrives on its standard output: the
audio side has then taken the new tune up at the start of a buffer. The
line is written by the main loop at its next pass after the audio side
queued it, so the figure also holds up to one logic update (16.7 ms) of
that wait; the "reloaded" line's arrival (the player has read the file) is
timed too.

The runs without --instant (a look every 16 logic updates) and with it are
made one after the other, on the same machine and tune, as each other's
baseline. Prints the median, the 90th percentile and the largest of each.

usage: bench/save_latency.py [--build DIR] [--saves N] [--style inplace|rename]
"""

import argparse
import os
import queue
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TUNES = [b"t 8 >>\n", b"t t 8 >> *\n", b"t t 10 >> |\n", b"t 5 * t 7 >> &\n"]


def reader(stream, lines):
    """Puts (arrival time, line) for every line of `stream`."""
    for line in iter(stream.readline, b""):
        lines.put((time.monotonic(), line))
    lines.put((time.monotonic(), None))


def wait_for(lines, word, deadline):
    """The arrival time of the next line holding `word`, or None."""
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        try:
            when, line = lines.get(timeout=left)
        except queue.Empty:
            return None
        if line is None:
            return None
        if word in line:
            return when


def save(path, text, style):
    """Writes the tune as an editor does; returns when the file is whole."""
    if style == "rename":
        aside = path + ".new"
        with open(aside, "wb") as f:
            f.write(text)
        os.rename(aside, path)
    else:
        with open(path, "wb") as f:
            f.write(text)
    return time.monotonic()


def run(exe, folder, saves, instant, style):
    path = os.path.join(folder, "tune.txt")
    with open(path, "wb") as f:
        f.write(TUNES[0])
    env = dict(os.environ, SDL_AUDIODRIVER="dummy", SDL_VIDEODRIVER="dummy")
    args = [exe] + (["--instant"] if instant else []) + [path, "44100"]
    player = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    lines = queue.Queue()
    threading.Thread(target=reader, args=(player.stdout, lines), daemon=True).start()
    decoded, reloaded = [], []
    try:
        if wait_for(lines, b"DECODED", time.monotonic() + 10) is None:
            sys.exit("the player never took up its first tune")
        rng = random.Random(17)
        for i in range(saves):
            # A random moment against the logic loop and the audio buffers.
            time.sleep(0.25 + rng.random() * 0.25)
            while not lines.empty():
                lines.get_nowait()
            saved = save(path, TUNES[(i + 1) % len(TUNES)], style)
            seen = wait_for(lines, b"reloaded", saved + 5)
            heard = wait_for(lines, b"DECODED", saved + 5)
            if seen is None or heard is None:
                sys.exit(f"save {i + 1} was not taken up")
            reloaded.append((seen - saved) * 1000)
            decoded.append((heard - saved) * 1000)
    finally:
        player.send_signal(2)
        player.wait(timeout=10)
    return reloaded, decoded


def summary(values):
    ordered = sorted(values)
    p90 = ordered[min(len(ordered) - 1, int(len(ordered) * 0.9))]
    return f"median {statistics.median(ordered):6.1f} ms, 90% {p90:6.1f} ms, largest {ordered[-1]:6.1f} ms"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build folder (default build)")
    parser.add_argument("--saves", type=int, default=100, help="saves per run (default 100)")
    parser.add_argument("--style", choices=["inplace", "rename"], default="inplace",
                        help="write the file in place, or beside it and rename it over")
    opts = parser.parse_args()
    exe = os.path.join(opts.build, "tonebrook")
    print(f"{opts.saves} saves ({opts.style}) each, SDL dummy driver, 44100 Hz, 1024-frame buffers; "
          f"load average {os.getloadavg()[0]:.2f}")
    for instant in (False, True):
        with tempfile.TemporaryDirectory(prefix="tonebrook-latency-") as folder:
            reloaded, decoded = run(exe, folder, opts.saves, instant, opts.style)
        name = "--instant" if instant else "every 16 updates"
        print(f"{name:>17}: save to DECODED {summary(decoded)}")
        print(f"{'':>17}  save to reloaded {summary(reloaded)}")


if __name__ == "__main__":
    main()
