#!/bin/sh
# The whole `fwupdater write` of a full-size dsPIC30F6014A image (144 KB of program memory, the
# whole EEPROM and the configuration words) into a 64 MB card data file, as process wall time,
# side by side with `srec_cat FILE -intel -o out.bin -binary` on the same HEX file.
# Usage: bench/write_vs_srec_cat.sh [BUILD_DIR]
#   (default: build; needs bin/fwupdater and bin/full_image_hex there)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
fwupdater="$build/bin/fwupdater"
runs=${FW_BENCH_RUNS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

command -v srec_cat >/dev/null || { echo "srec_cat missing (package srecord)" >&2; exit 1; }
[ -x "$fwupdater" ] || { echo "no $fwupdater: build first" >&2; exit 1; }

# The image (full_image_hex, built with the benchmarks): 48K program words, the whole EEPROM and
# the config words.
"$build/bin/full_image_hex" "$work/full-6014a.hex"
hex="$work/full-6014a.hex"
# A device whose application windows are whole memories (the catalogue's defaults).
printf '[DEVICE_1]\nNAME=Bench dsPIC30F6014A\nHCLASS=7\n' > "$work/DEV_LIST.dat"
echo "file: $(wc -c < "$hex") bytes, $runs runs each"

# One entry takes 394 pages (+1 skipped); a 6 MB EXTENDED section holds 31 of them, so the card
# is made anew outside the timed part whenever it is nearly full.
card="$work/data.rgd"
new_card() {
  rm -f "$card"
  "$fwupdater" create "$card" --pages 131072 --sessions 50 --extended-mb 6 >/dev/null
}
new_card
total=0
i=0
while [ "$i" -lt "$runs" ]; do
  if [ $((i % 30)) -eq 29 ]; then new_card; fi
  start=$(date +%s%N)
  "$fwupdater" write "$card" --hex "$hex" --catalogue "$work/DEV_LIST.dat" --scramble >/dev/null
  end=$(date +%s%N)
  total=$((total + end - start))
  i=$((i + 1))
done
"$fwupdater" verify "$card" >/dev/null
write_us=$((total / runs / 1000))

start=$(date +%s%N)
i=0
while [ "$i" -lt "$runs" ]; do
  srec_cat "$hex" -intel -o "$work/out.bin" -binary
  i=$((i + 1))
done
end=$(date +%s%N)
srec_us=$(((end - start) / runs / 1000))

echo "fwupdater write (read HEX, 3 regions, scramble, append, flush): $write_us us per run"
echo "srec_cat -intel -o out.bin -binary:                             $srec_us us per run"
awk -v a="$write_us" -v b="$srec_us" 'BEGIN { printf "ratio write / srec_cat: %.2f\n", a / b }'
