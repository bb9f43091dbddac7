#!/bin/sh
# Loading a full-size dsPIC30F6014A HEX file: this project's reader (bench_ihex) side by side
# with `srec_cat FILE -intel -o out.bin -binary` on the same file.
# Usage: bench/hex_vs_srec_cat.sh [BUILD_DIR]
#   (default: build; needs bin/bench_ihex and bin/full_image_hex there)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${FW_BENCH_RUNS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# The image (full_image_hex, built with the benchmarks): 48K program words, the whole EEPROM and
# the config words.
"$build/bin/full_image_hex" "$work/full-6014a.hex"
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
