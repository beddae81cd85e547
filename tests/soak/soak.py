#!/usr/bin/env python3
"""Sings many sessions back to back through the real program's window and watches its resources.

One quorvel process, on a private desktop with a private sound server (see tests/e2e), sings
single songs and then medleys from a recording (--capture-file), each to its score, and goes back
to the list with stop, as a person would. After each session it reports the process's resident
and peak memory, its open file descriptors and its threads. At the end the descriptors and the
threads must be what they were before the first session, and the resident memory must not have
grown by more than the allowance since the first session (which fills the caches).

usage: tests/soak/soak.py --quorvel build/release/app/quorvel [--singles 50] [--medleys 10]

Takes about 48 minutes for the singles and 25 for the medleys. Exit status 0 when the resources
came back, 1 when they did not, 77 when no desktop or sound server can be had here.
"""

import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import quorveldesk as desk  # noqa: E402
from e2e_test import (BACK, CONFIRM, EXIT, LIST, MEDLEYS, MEDLEY_SONGS, SINGLES, START,  # noqa: E402
                      STOP)

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo")
SINGLE_SONGS = ["纸船与月光", "青石巷的早晨"]
GROWTH_ALLOWANCE_KIB = 8 * 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorvel", required=True)
    parser.add_argument("--singles", type=int, default=50)
    parser.add_argument("--medleys", type=int, default=10)
    parser.add_argument("--demo", default=DEMO)
    args = parser.parse_args()
    quorvel = os.path.abspath(args.quorvel)

    work = tempfile.mkdtemp(prefix="quorvel-soak.")
    try:
        stage = desk.Stage()
    except desk.Unavailable as reason:
        print(f"SKIPPED: {reason}")
        return 77
    with stage:
        try:
            return soak(stage, quorvel, args, work)
        except desk.Failure as failure:
            print(f"FAIL {failure}")
            return 1


def soak(stage, quorvel, args, work):
    """The sessions and their figures; returns the exit status."""
    library = desk.copy_library(args.demo, work)
    # The singer sings on through every session: the demo performance over and over (out
    # of step with the songs after the first, but a voice, so every line is aligned).
    recording = os.path.join(work, "singer.wav")
    seconds = 60 * args.singles + 150 * args.medleys + 60
    desk.repeat_wav(os.path.join(library, "recordings", SINGLE_SONGS[0] + ".wav"), seconds,
                    recording)
    program = stage.start(quorvel, library, args=["--capture-file", recording])
    time.sleep(1.0)
    program.click(*START)

    def figures():
        rss, peak = program.memory_kib()
        return {"rss": rss, "peak": peak, "fds": program.open_files(),
                "threads": program.threads()}

    def show(label, f):
        print(f"{label:<34} resident {f['rss']:>7} KiB  peak {f['peak']:>7} KiB  "
              f"fds {f['fds']:>3}  threads {f['threads']:>2}", flush=True)

    def session(label, songs, rows, order, timeout):
        for song in songs:
            program.click(LIST[0] + 60, rows[order.index(song)], settle=0.3)
        traced = len(program.trace())
        started = time.monotonic()
        program.click(*CONFIRM, settle=0.0)
        match = program.wait_for_trace(r"final score: (\d+(?:\.\d+)?)", timeout, traced)
        program.click(*STOP, settle=1.5)
        f = figures()
        show(f"{label} {float(match.group(1)):5.1f} {time.monotonic() - started:5.1f} s", f)
        return f

    def open_list(medley):
        program.click(*(MEDLEYS if medley else SINGLES))
        shot = program.screenshot(os.path.join(work, "list.png"))
        rows = desk.text_rows(shot, *LIST)
        order = desk.listing_order(library, medley)
        if len(rows) != len(order):
            raise desk.Failure(f"the list shows {len(rows)} lines for {len(order)} songs")
        return rows, order

    rows, order = open_list(False)
    baseline = figures()
    show("before the first session", baseline)
    after = []
    for number in range(args.singles):
        song = SINGLE_SONGS[number % len(SINGLE_SONGS)]
        after.append(session(f"single {number + 1:>2}", [song], rows, order, 120))
    if args.medleys:
        program.click(*BACK)
        rows, order = open_list(True)
        for number in range(args.medleys):
            after.append(session(f"medley {number + 1:>2}", MEDLEY_SONGS, rows, order, 300))

    problems = []
    for key in ("fds", "threads"):
        changed = [i + 1 for i, f in enumerate(after) if f[key] != baseline[key]]
        if changed:
            problems.append(f"{key} differ from before the first session after sessions "
                            f"{changed[:10]}")
    growth = after[-1]["rss"] - after[0]["rss"]
    peak_growth = after[-1]["peak"] - after[0]["peak"]
    print(f"resident memory: {after[0]['rss']} KiB after the first session, "
          f"{after[-1]['rss']} KiB after the last ({growth:+} KiB); peak "
          f"{after[0]['peak']} KiB then, {after[-1]['peak']} KiB at the end "
          f"({peak_growth:+} KiB)")
    if growth > GROWTH_ALLOWANCE_KIB:
        problems.append(f"resident memory grew by {growth} KiB")
    program.click(*BACK)
    program.click(*BACK)
    program.click(*EXIT, settle=0.0)
    status = program.wait_exit()
    if status != 0:
        problems.append(f"the program ended with status {status}")
    for problem in problems:
        print("FAIL " + problem)
    if not problems:
        print(f"resources came back after each of {len(after)} sessions")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
