#!/usr/bin/env python3
"""Soak test of the live player: run by scripts/soak.sh (see there).

Runs the built player on SDL's disk writer for a number of minutes while it
saves the tune about ten times a second: a random mix of good tunes, tunes
with an unknown token, texts longer than the 1023 bytes the player reads,
and the ways editors save (write in place, rename a new file over the old
one, truncate and then write a moment later). Every save is unique, so each
line the player prints can be traced to the save it came from.

At the end it checks, from the log:
  * every tune the player compiled is one that was saved, in the order of
    the saves (a newer save is never followed by an older one), and none is
    the empty text of a save caught half-way;
  * every compiled tune was adopted by the audio side (a DECODED line with
    the tune's instruction count follows it);
  * the last save is the last tune compiled and adopted;
  * the player quit cleanly and dropped no log line;
and from the captured sound:
  * the stream is silent while the last bad save holds, and then carries the
    last save's tune: `t 128 &`, a square wave whose sign turns every 128
    steps of `t`.
It reports the saves, the adoptions, the growth of the resident memory from
after start-up to the end, and the processor time used.
"""
import argparse
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time

RATE = 44100
FRAMES = 1024  # per buffer at 44100 Hz
TUNE_RATE = 8000

NAMES = {
    "t": "a", "DROP": "c", "*": "d", "/": "e", "+": "f", "-": "g", "%": "h",
    "<<": "j", ">>": "k", "&": "l", "|": "m", "^": "n", "~": "o", "DUP": "p",
    "PICK": "q", "SWAP": "r", ">": "t", "<": "s", "=": "u", "NOP": ".",
}


def expected(text):
    """What the player makes of `text`: ("out", url, instructions) or
    ("unknown", token). Enough of the encoder for the texts made here:
    names, decimal numbers and comments, cut at 1023 bytes."""
    data = text.encode()[:1023].decode(errors="replace")
    data = re.sub(r"\([^)]*(\)|$)", " ", data)
    url, count, last_number = "compiled!", 0, False
    for token in data.split():
        if token in NAMES:
            url += NAMES[token]
            count += NAMES[token] != "."
            last_number = False
        elif token.isdigit():
            url += format(int(token) & 0xFFFFFFFF, "X")
            count += not last_number
            last_number = True
        else:
            return ("unknown", token[:15])
    return ("out", url, min(count, 256))


class Saver:
    """Saves texts to `path` in the ways editors do."""

    def __init__(self, path, rng):
        self.path, self.rng = path, rng
        self.kinds = {}

    def save(self, text, how):
        self.kinds[how] = self.kinds.get(how, 0) + 1
        if how == "rename":
            tmp = self.path + ".new"
            with open(tmp, "w") as f:
                f.write(text)
            os.rename(tmp, self.path)
        elif how == "truncate":
            with open(self.path, "r+") as f:
                f.truncate(0)
                f.flush()
                time.sleep(self.rng.uniform(0.0, 0.04))
                f.write(text)
        else:
            with open(self.path, "w") as f:
                f.write(text)


def good_tune(i):
    a, b, c = 1 + i % 15, 1 + (i // 15) % 15, (i // 225) % 256
    return f"( save {i} )\nt {a} >> t {b} >>\n|\n{c} &\n"


def make_save(i, rng):
    """The text of save `i` and its kind."""
    roll = rng.random()
    if roll < 0.55:
        return good_tune(i), "good"
    if roll < 0.75:
        return f"t {i} * wobble{i}\n", "unknown token"
    if roll < 0.9:
        return good_tune(i) + "( " + "-" * rng.randint(1000, 1500) + " )\n", "longer than 1023 bytes"
    return f"{i} DROP " + "t " * rng.randint(300, 600), "longer than 1023 bytes"


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def messages(log_bytes):
    """The log's messages in order, prefix removed, NUL bytes dropped."""
    text = log_bytes.replace(b"\0", b"").decode(errors="replace")
    out = []
    for line in text.split("\n"):
        at = line.find("[kel ")
        if at >= 0:
            m = re.match(r"\[kel -?\d+\.\d\ds \(\d+\)\] (.*)", line[at:])
            if m:
                out.append(m.group(1))
    return out


def sign_turns(samples):
    """Positions where the left channel changes sign (zero counts as its own
    sign), from a list of left samples."""
    turns, last = [], 0
    for i, s in enumerate(samples):
        sign = (s > 0) - (s < 0)
        if sign != last and last != 0:
            turns.append(i)
        if sign != 0:
            last = sign
    return turns


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("player")
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--saves-per-second", type=float, default=10.0)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--keep", action="store_true", help="keep the log and the captured stream")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)

    work = tempfile.mkdtemp(prefix="tonebrook-soak-")
    tune, raw, log_path = (os.path.join(work, n) for n in ("tune.txt", "stream.raw", "player.log"))
    saver = Saver(tune, rng)
    saves = []  # (index, text, kind)
    first = good_tune(0)
    with open(tune, "w") as f:
        f.write(first)
    saves.append((0, first, "good"))

    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw,
               SDL_DISKAUDIODELAY=str(FRAMES * 1000 // RATE), SDL_VIDEODRIVER="dummy")
    log = open(log_path, "wb")
    err_path = os.path.join(work, "player.err")
    err = open(err_path, "wb")
    # SIGINT as from a terminal, even when this script runs in the background.
    player = subprocess.Popen([args.player, tune], stdout=log, stderr=err, env=env,
                              preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    start = time.monotonic()
    time.sleep(5.0)  # start-up done, first tune playing
    rss_start, cpu_start, wall_start = rss_kib(player.pid), cpu_seconds(player.pid), time.monotonic()
    rss_peak = rss_start

    period = 1.0 / args.saves_per_second
    end = start + args.minutes * 60.0
    next_save, i = time.monotonic(), 0
    while time.monotonic() < end - 4.0:
        i += 1
        text, kind = make_save(i, rng)
        how = rng.choice(["write", "rename", "truncate"])
        saver.save(text, how)
        saves.append((i, text, kind))
        if i % 50 == 0:
            rss_peak = max(rss_peak, rss_kib(player.pid))
        next_save += period
        time.sleep(max(0.0, next_save - time.monotonic()))
        if player.poll() is not None:
            break

    # The ending the sound is checked on: a bad save held long enough to be
    # heard as silence, then the last save.
    i += 1
    bad = f"t {i} * wobble{i}\n"
    saver.save(bad, "write")
    saves.append((i, bad, "unknown token"))
    time.sleep(1.5)
    i += 1
    last = f"( save {i} ) t 128 &\n"
    saver.save(last, "rename")
    saves.append((i, last, "good"))
    time.sleep(2.5)

    rss_end = rss_kib(player.pid)
    rss_peak = max(rss_peak, rss_end)
    cpu_used, wall = cpu_seconds(player.pid) - cpu_start, time.monotonic() - wall_start
    player.send_signal(signal.SIGINT)
    try:
        status = player.wait(timeout=30)
    except subprocess.TimeoutExpired:
        player.kill()
        status = None
    log.close()
    err.close()
    errors = open(err_path, "rb").read().decode(errors="replace")

    failures = []
    lines = messages(open(log_path, "rb").read())

    # Each save's trace in the log: its URL text or its unknown token.
    by_url, by_token = {}, {}
    for index, text, _ in saves:
        e = expected(text)
        (by_url if e[0] == "out" else by_token)[e[1]] = (index, e)

    compiled, adopted, unknown, order = 0, 0, 0, []
    pending = None  # the compiled tune waiting for its DECODED line
    for line in lines:
        m = re.match(r"out: '(.*)'$", line)
        u = re.match(r"\?UNKNOWN SYMBOL: '(.*)'$", line)
        d = re.match(r"DECODED '(.*)' (\d+) opcodes$", line)
        if m or u:
            if pending is not None:
                failures.append(f"save {pending[0]} was compiled but never adopted")
            pending = None
        if m:
            compiled += 1
            if m.group(1) not in by_url:
                failures.append(f"compiled a tune that was never saved: {m.group(1)[:60]}")
                continue
            index, e = by_url[m.group(1)]
            order.append(index)
            pending = (index, e[2])
        elif u:
            unknown += 1
            if u.group(1) in by_token:
                order.append(by_token[u.group(1)][0])
            else:
                failures.append(f"an unknown token that was never saved: {u.group(1)}")
        elif d and pending is not None:
            if int(d.group(2)) != pending[1]:
                failures.append(f"save {pending[0]} adopted with {d.group(2)} instructions, not {pending[1]}")
            adopted += 1
            pending = None
    if pending is not None:
        failures.append(f"save {pending[0]} was compiled but never adopted")
    # The same save may be compiled twice (read while it was being written,
    # and again once written); an older one after a newer one is a fault.
    if any(b < a for a, b in zip(order, order[1:])):
        at = next(k for k in range(1, len(order)) if order[k] < order[k - 1])
        failures.append(f"save {order[at]} came after save {order[at - 1]}: an older save won")
    if not order or order[-1] != saves[-1][0]:
        failures.append("the last save is not the last tune compiled")
    if any("dropped" in line for line in lines):
        failures.append("the log ring dropped lines of the audio thread")
    if status != 0 or not lines or lines[-1] != "Bye! :)":
        failures.append(f"the player did not quit cleanly (status {status})")

    # The sound: silence under the last bad save, then the last tune, whose
    # sign turns every 128 steps of `t` (705.6 frames).
    data = open(raw, "rb").read()
    count = len(data) // 4
    window = 6 * RATE
    left = [struct.unpack_from("<h", data, 4 * k)[0] for k in range(max(0, count - window), count)]
    # The last run of silence longer than four buffers, and the sound after it.
    zeros, silence_end = 0, None
    for k, s in enumerate(left):
        if s == 0:
            zeros += 1
            continue
        if zeros >= 4 * FRAMES:
            silence_end = k
        zeros = 0
    if silence_end is None:
        failures.append("no silence under the last bad save")
    elif all(s == 0 for s in left[-FRAMES:]):
        failures.append("the stream does not end with sound")
    else:
        tail = left[silence_end + RATE // 4:]  # past the filter's settling
        turns = sign_turns(tail)
        gaps = [b - a for a, b in zip(turns, turns[1:])]
        step = 128 * RATE / TUNE_RATE
        if len(gaps) < 10 or any(abs(g - step) > 2 for g in gaps):
            failures.append(f"the stream after the last save is not its tune (sign turns {gaps[:8]}...)")

    kinds = {}
    for _, _, kind in saves:
        kinds[kind] = kinds.get(kind, 0) + 1
    notes_long = sum("is longer than 1023 bytes" in line for line in lines)
    notes_cut = sum("only the first 256 play" in line for line in lines)
    print(f"soak: {args.minutes:g} min, seed {seed}, {len(saves)} saves "
          f"({', '.join(f'{v} {k}' for k, v in sorted(kinds.items()))}; "
          f"{', '.join(f'{v} {k}' for k, v in sorted(saver.kinds.items()))})")
    print(f"soak: {compiled} tunes compiled, {adopted} adopted, {unknown} unknown tokens reported, "
          f"{notes_long} over-long notes, {notes_cut} cut-program notes")
    print(f"soak: resident memory {rss_start} kB after start-up, {rss_end} kB at the end "
          f"(growth {rss_end - rss_start:+d} kB, peak {rss_peak} kB)")
    print(f"soak: processor {cpu_used:.1f} s in {wall:.0f} s ({100.0 * cpu_used / wall:.1f} % of one core)")
    print(f"soak: captured {count / RATE:.0f} s of sound")
    if errors.strip():
        print("soak: standard error of the player:\n" + errors.strip())
    if args.keep:
        print(f"soak: log and stream kept in {work}")
    else:
        for p in (tune, raw, log_path, err_path, tune + ".new"):
            if os.path.exists(p):
                os.remove(p)
        os.rmdir(work)
    for f in failures[:20]:
        print("soak: FAILED: " + f)
    print("soak: " + ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
