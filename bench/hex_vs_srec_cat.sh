#!/bin/sh
# Loading a full-size dsPIC30F6014A HEX file: this project's reader (bench_ihex) side by side
# with `srec_cat FILE -intel -o out.bin -binary` on the same file.
# Usage: bench/hex_vs_srec_cat.sh [BUILD_DIR]   (default: build; needs bin/bench_ihex there)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${FW_BENCH_RUNS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# The image: 48K program words (3 bytes + phantom), 2K EEPROM words and 7 configuration words,
# 16-byte records, an extended linear address record at every 64 KB of HEX addresses.
/usr/bin/env python3 - "$work/full-6014a.hex" <<'PY'
import random, sys

def record(rec_type, offset, data):
    body = bytes([len(data), offset >> 8, offset & 0xFF, rec_type]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF) + "\n"

def memory(first, words, width, rng):
    lines, upper = [], None
    for w in range(0, words, 4):
        hex_address = (first + 2 * w) * 2
        if hex_address >> 16 != upper:
            upper = hex_address >> 16
            lines.append(record(4, 0, [upper >> 8, upper & 0xFF]))
        data = []
        for _ in range(min(4, words - w)):
            data += [rng.randrange(256) for _ in range(width)] + [0] * (4 - width)
        lines.append(record(0, hex_address & 0xFFFF, data))
    return lines

rng = random.Random(6014)
lines = memory(0, 0xC000, 3, rng) + memory(0x7FF000, 0x800, 2, rng) + memory(0xF80000, 7, 2, rng)
lines.append(record(1, 0, []))
with open(sys.argv[1], "w", newline="\n") as out:
    out.write("".join(lines))
PY
hex="$work/full-6014a.hex"
echo "file: $(wc -c < "$hex") bytes"

echo "== this reader (one read, FLASH + EEPROM + CONFIG)"
FW_BENCH_HEX="$hex" "$build/bin/bench_ihex" --benchmark_filter=BM_ReadFileAndLoadThreeRegions

echo "== srec_cat -intel -o out.bin -binary, $runs runs"
start=$(date +%s%N)
i=0
while [ "$i" -lt "$runs" ]; do
  srec_cat "$hex" -intel -o "$work/out.bin" -binary
  i=$((i + 1))
done
end=$(date +%s%N)
echo "srec_cat: $(( (end - start) / runs / 1000 )) us per file (whole process)"
