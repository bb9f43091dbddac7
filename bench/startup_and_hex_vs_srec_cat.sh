#!/bin/sh
# Whole-process times of the command line beside srec_cat on the same machine and the same files:
#   start-up:  `fwupdater --help`                      against `srec_cat --version`
#   HEX:       `fwupdater hexinfo FULL.hex`            against `srec_cat FULL.hex -intel -o out.bin -binary`
#   write:     `fwupdater write` of FULL.hex into a 64 MB card data file (both flushes of the
#              append included) against the same srec_cat run
# FULL.hex is the full-size dsPIC30F6014A image that full_image_hex (built with the benchmarks)
# writes. The two programs of a pair take turns run by run (so that a busy machine slows both
# alike); each line shows the median of the runs, and the ratio of the medians beside its goal
# (and, for a loaded machine, the ratio of the fastest runs).
# Usage: bench/startup_and_hex_vs_srec_cat.sh [BUILD_DIR]
#   (default: build; needs bin/fwupdater and bin/full_image_hex there)
# FW_BENCH_RUNS runs of each program per pair (default 41); FW_BENCH_DIR the folder for the files
# (default: a new folder under /tmp; the card's flushes cost what that folder's disk makes them).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
fwupdater="$build/bin/fwupdater"
full_image_hex="$build/bin/full_image_hex"
python=/usr/bin/python3
command -v srec_cat >/dev/null || { echo "srec_cat missing (package srecord)" >&2; exit 1; }
[ -x "$fwupdater" ] || { echo "no $fwupdater: build first" >&2; exit 1; }
[ -x "$full_image_hex" ] || { echo "no $full_image_hex: build first" >&2; exit 1; }
[ -x "$python" ] || { echo "no $python" >&2; exit 1; }

work=$(mktemp -d "${FW_BENCH_DIR:-${TMPDIR:-/tmp}}/fw-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

"$full_image_hex" "$work/full-6014a.hex"
# A device whose application windows are whole memories (the catalogue's defaults).
printf '[DEVICE_1]\nNAME=Bench dsPIC30F6014A\nHCLASS=7\n' >"$work/DEV_LIST.dat"

"$python" - "$fwupdater" "$(command -v srec_cat)" "$work" "${FW_BENCH_RUNS:-41}" <<'EOF'
import os
import statistics
import subprocess
import sys
import time

fwupdater, srec_cat, work, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
hex_file = os.path.join(work, "full-6014a.hex")
catalogue = os.path.join(work, "DEV_LIST.dat")
card = os.path.join(work, "data.rgd")
null = os.open(os.devnull, os.O_RDWR)


def spawn(argv):
    """Wall time of one run in microseconds; the run must succeed."""
    actions = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1)]
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    elapsed = (time.perf_counter_ns() - start) / 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(argv))
    return elapsed


# One entry of the full image takes 395 pages; a 6 MB EXTENDED section holds 31 of them, so the
# card is made anew, outside the timed runs, before it is full.
entries_on_card = 0


def new_card_when_full():
    global entries_on_card
    if entries_on_card and entries_on_card < 30:
        return
    if os.path.exists(card):
        os.remove(card)
    subprocess.run([fwupdater, "create", card, "--pages", "131072", "--sessions", "50",
                    "--extended-mb", "6"], check=True, stdout=subprocess.DEVNULL)
    entries_on_card = 0


def write_run():
    global entries_on_card
    new_card_when_full()
    entries_on_card += 1
    return spawn([fwupdater, "write", card, "--hex", hex_file, "--catalogue", catalogue,
                  "--scramble"])


def pair(title, goal, ours, theirs):
    ours_times, theirs_times = [], []
    ours(), theirs()  # warm the page cache and the dynamic loader's files
    for run in range(runs):
        first, second = ((ours, ours_times), (theirs, theirs_times))[:: 1 if run % 2 else -1]
        first[1].append(first[0]())
        second[1].append(second[0]())
    a, b = statistics.median(ours_times), statistics.median(theirs_times)
    verdict = "holds" if a / b <= goal else "misses"
    print(f"{title:<9} fwupdater {a / 1000:7.2f} ms  srec_cat {b / 1000:7.2f} ms  "
          f"ratio {a / b:4.2f} (goal <= {goal}: {verdict}; "
          f"fastest runs {min(ours_times) / min(theirs_times):4.2f})")


srec_convert = lambda: spawn([srec_cat, hex_file, "-intel", "-o", os.path.join(work, "out.bin"),
                              "-binary"])
print(f"{runs} runs each, medians; HEX file {os.path.getsize(hex_file)} bytes; "
      f"load {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")
pair("start-up", 1.3, lambda: spawn([fwupdater, "--help"]),
     lambda: spawn([srec_cat, "--version"]))
pair("hexinfo", 0.5, lambda: spawn([fwupdater, "hexinfo", hex_file, "--catalogue", catalogue]),
     srec_convert)
pair("write", 1.0, write_run, srec_convert)
subprocess.run([fwupdater, "verify", card], check=True, stdout=subprocess.DEVNULL)
EOF
