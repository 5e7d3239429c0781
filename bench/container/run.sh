#!/usr/bin/env bash
# Compressed file container benchmark: vxdelta decompress (DecompressFile on a
# directive-1 container) against xz -d on the same data compressed as raw
# LZMA2, compressed size against xz -9e (raw and .xz) and zstd -19, and the
# peak memory of DecompressFile on a large file against output + input + 1 MiB.
#
# usage: bench/container/run.sh [BUILD_DIR]   (default: build-engine)
# env:   DATA_MB (size of the shared-library sample, default 24),
#        MEM_MB (size of the memory-check file, default 100), REPEAT (default 3)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-engine}
VXDELTA=$BUILD/bin/vxdelta
DATA_MB=${DATA_MB:-24}
MEM_MB=${MEM_MB:-100}
REPEAT=${REPEAT:-3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# shellcheck source=bench/bytediff/bench_lib.sh
source "$ROOT/bench/bytediff/bench_lib.sh"
require_tools "$VXDELTA" "$(command -v xz)" "$(command -v zstd)" /usr/bin/time

# Real executable data: the machine's shared libraries, in a fixed order.
sample() {  # MiB output; head ends the pipe early on purpose
  (set +o pipefail
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +100k | LC_ALL=C sort |
    xargs cat 2>/dev/null | head -c $(($1 * 1048576)) >"$2")
}

RAW_OPTS=--lzma2=preset=9e
sample "$DATA_MB" "$WORK/data"
"$VXDELTA" compress "$WORK/data" "$WORK/data.vxl"
xz --format=raw "$RAW_OPTS" -c "$WORK/data" >"$WORK/data.raw"
xz -9e -c "$WORK/data" >"$WORK/data.xz"
zstd -q -19 -c "$WORK/data" >"$WORK/data.zst"

read -r ow oc _ <<<"$(measure "$VXDELTA" decompress "$WORK/data.vxl" "$WORK/ours.out")"
read -r tw tc _ <<<"$(measure sh -c "xz -d --format=raw $RAW_OPTS -c '$WORK/data.raw' >'$WORK/theirs.out'")"
cmp -s "$WORK/data" "$WORK/ours.out" || { echo "our output differs" >&2; exit 1; }
cmp -s "$WORK/data" "$WORK/theirs.out" || { echo "xz output differs" >&2; exit 1; }
size() { stat -c %s "$1"; }
mbps() { awk -v b="$(size "$WORK/data")" -v s="$1" 'BEGIN { printf "%.1f", b / 1048576 / s }'; }

echo "sample: $DATA_MB MiB of /usr/lib/x86_64-linux-gnu/*.so*; best of $REPEAT runs"
printf '%-34s %12s %12s %14s\n' "decompression" "wall s" "cpu s" "MiB/s (wall)"
printf '%-34s %12s %12s %14s\n' "vxdelta decompress" "$ow" "$oc" "$(mbps "$ow")"
printf '%-34s %12s %12s %14s\n' "xz -d --format=raw (preset 9e)" "$tw" "$tc" "$(mbps "$tw")"
printf '%-34s %12s %12s\n' "speed ratio ours/xz (wall, cpu)" "$(ratio "$tw" "$ow")" "$(ratio "$tc" "$oc")"
echo
printf '%-34s %12s %12s\n' "compressed size" "bytes" "ours/theirs"
printf '%-34s %12s %12s\n' "vxdelta container (preset 9)" "$(size "$WORK/data.vxl")" "1.00"
for f in "xz --format=raw preset 9e:data.raw" "xz -9e (.xz):data.xz" "zstd -19:data.zst"; do
  printf '%-34s %12s %12s\n' "${f%%:*}" "$(size "$WORK/${f##*:}")" \
    "$(ratio "$(size "$WORK/data.vxl")" "$(size "$WORK/${f##*:}")")"
done

sample "$MEM_MB" "$WORK/big"
"$VXDELTA" compress "$WORK/big" "$WORK/big.vxl"
rm -f "$WORK/data"*
REPEAT=1
read -r _ _ peak <<<"$(measure "$VXDELTA" decompress "$WORK/big.vxl" "$WORK/big.out")"
cmp -s "$WORK/big" "$WORK/big.out" || { echo "large output differs" >&2; exit 1; }
limit=$((($(size "$WORK/big") + $(size "$WORK/big.vxl")) / 1024 + 1024))
echo
echo "peak memory of vxdelta decompress on $MEM_MB MiB: $peak KiB (output + input + 1 MiB = $limit KiB; ratio $(ratio "$peak" "$limit"))"
