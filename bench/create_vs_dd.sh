#!/bin/sh
# Creating a 512 MB card data file against dd writing 512 MB of zeros, on the same file system.
# Usage: bench/create_vs_dd.sh [DIR] (default: a new folder under /tmp); BENCH_BIN points to
# bench_carddata (default: build/bin/bench_carddata).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${BENCH_BIN:-$here/../build/bin/bench_carddata}
dir=${1:-$(mktemp -d)}
[ -x "$bin" ] || { echo "bench_carddata not found at $bin (set BENCH_BIN)" >&2; exit 2; }

# dd flushes to the device at the end; the card file creation writes each block back as it goes,
# waits for the write-back every 64 blocks and flushes at the end, so both end with every byte on
# the device. One untimed run first: the first write of a fresh 512 MB file pays for allocating
# its blocks, later runs do not.
dd if=/dev/zero of="$dir/dd.bin" bs=1M count=512 conv=fsync status=none
start=$(date +%s.%N)
for run in 1 2 3; do
  dd if=/dev/zero of="$dir/dd.bin" bs=1M count=512 conv=fsync status=none
done
end=$(date +%s.%N)
rm -f "$dir/dd.bin"

json=$(CARDDATA_BENCH_DIR="$dir" "$bin" --benchmark_filter=BM_CreateCard512Mb \
  --benchmark_format=json 2>/dev/null)
create_rate=$(printf '%s\n' "$json" | sed -n 's/.*"bytes_per_second": *\([0-9.e+]*\).*/\1/p' | head -n 1)

awk -v start="$start" -v end="$end" -v create="$create_rate" 'BEGIN {
  dd = 3 * 512 * 1048576 / (end - start)
  printf "dd (1 MiB blocks):     %8.1f MB/s\n", dd / 1048576
  printf "card file creation:    %8.1f MB/s\n", create / 1048576
  printf "creation / dd:         %8.2f\n", create / dd
}'
