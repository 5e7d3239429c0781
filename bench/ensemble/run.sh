#!/usr/bin/env bash
# Ensemble patch benchmark: our generator and apply (vxdelta patch / apply)
# against Debian's bsdiff/bspatch, xdelta3 -9 -S djw and
# zstd --patch-from --ultra -22 --long=27 on published versions of
# libcrypto.so.3 and libssl.so.3 (each step between consecutive libssl3
# versions) and on two releases of a real C code base built as x86-64
# Mach-O executables (lz4_macho.sh). Prints one table per measure with the
# ratios ours/theirs.
#
# usage: bench/ensemble/run.sh [BUILD_DIR]   (default: build-engine)
# env:   VERSIONS of libssl3, oldest first (default 3.0.17-1~deb12u2
#        3.0.20-1~deb12u2 3.0.22-1~deb12u2); OLD_VERSION and NEW_VERSION,
#        when both are set, measure that one step instead;
#        MACHO=0 leaves out the Mach-O pair; LZ4_SOURCES: a directory that
#        already holds the lz4 .orig tarballs (else they are downloaded);
#        REPEAT (timing runs per command, default 3)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-engine}
VXDELTA=$BUILD/bin/vxdelta
VERSIONS=${VERSIONS:-3.0.17-1~deb12u2 3.0.20-1~deb12u2 3.0.22-1~deb12u2}
if [ -n "${OLD_VERSION:-}" ] && [ -n "${NEW_VERSION:-}" ]; then
  VERSIONS="$OLD_VERSION $NEW_VERSION"
fi
MACHO=${MACHO:-1}
REPEAT=${REPEAT:-3}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=bench/bytediff/bench_lib.sh
source "$ROOT/bench/bytediff/bench_lib.sh"
require_tools "$VXDELTA" "$(command -v bsdiff)" "$(command -v bspatch)" \
  "$(command -v xdelta3)" "$(command -v zstd)" /usr/bin/time

fetch_libssl3() {  # version -> directory of the extracted package
  local version=$1 dir="$WORK/libssl3-$1"
  mkdir -p "$dir"
  (cd "$dir" && apt-get download "libssl3=$version" >/dev/null 2>&1) ||
    { echo "cannot download libssl3=$version (see apt-cache madison libssl3)" >&2; exit 1; }
  dpkg-deb -x "$dir"/libssl3_*.deb "$dir/root"
  echo "$dir/root"
}

library() {  # root name -> path
  find "$1" -name "$2" -type f | head -n 1
}

# verify NAME EXPECTED REBUILT: every tool must give the new file back.
verify() {
  cmp -s "$2" "$3" || { echo "$1 did not rebuild the new file" >&2; exit 1; }
}

SIZES='%-26s | %-9s | %-9s %-5s | %-9s %-5s | %-9s %-5s\n'
TIMES='%-26s | %-11s %-5s | %-11s %-5s | %-11s %-5s | %-11s %-5s | %-11s %-5s\n'

sizes_row() {  # name old new
  local name=$1 old=$2 new=$3 ours bs xd zs
  "$VXDELTA" patch "$old" "$new" "$WORK/ours.patch"
  "$VXDELTA" apply "$old" "$WORK/ours.patch" "$WORK/ours.out" >/dev/null
  verify vxdelta "$new" "$WORK/ours.out"
  bsdiff "$old" "$new" "$WORK/bs.patch"
  bspatch "$old" "$WORK/bs.out" "$WORK/bs.patch"
  verify bspatch "$new" "$WORK/bs.out"
  xdelta3 -f -9 -S djw -e -s "$old" "$new" "$WORK/xd.patch"
  xdelta3 -f -d -s "$old" "$WORK/xd.patch" "$WORK/xd.out"
  verify xdelta3 "$new" "$WORK/xd.out"
  # zstd prints tuning notes at this level; only its result counts.
  zstd -q -f --patch-from="$old" --ultra -22 --long=27 "$new" -o "$WORK/zs.patch" >/dev/null 2>&1
  zstd -q -f -d --patch-from="$old" --long=27 "$WORK/zs.patch" -o "$WORK/zs.out"
  verify zstd "$new" "$WORK/zs.out"
  ours=$(stat -c %s "$WORK/ours.patch")
  bs=$(stat -c %s "$WORK/bs.patch")
  xd=$(stat -c %s "$WORK/xd.patch")
  zs=$(stat -c %s "$WORK/zs.patch")
  # shellcheck disable=SC2059
  printf "$SIZES" "$name" "$ours" "$bs" "$(ratio "$ours" "$bs")" "$xd" "$(ratio "$ours" "$xd")" \
    "$zs" "$(ratio "$ours" "$zs")"
}

# Peak resident set in bytes per byte of input (old + new).
per_input_byte() {  # kib old new
  awk -v k="$1" -v a="$(stat -c %s "$2")" -v b="$(stat -c %s "$3")" \
    'BEGIN { printf "%.1f", k * 1024 / (a + b) }'
}

times_row() {  # name old new
  local name=$1 old=$2 new=$3 ow oc om bw bc bm oa oac ba bac op bp
  read -r ow oc om <<<"$(measure "$VXDELTA" patch "$old" "$new" "$WORK/ours.patch")"
  read -r bw bc bm <<<"$(measure bsdiff "$old" "$new" "$WORK/bs.patch")"
  read -r oa oac _ <<<"$(measure "$VXDELTA" apply "$old" "$WORK/ours.patch" "$WORK/ours.out")"
  read -r ba bac _ <<<"$(measure bspatch "$old" "$WORK/bs.out" "$WORK/bs.patch")"
  op=$(per_input_byte "$om" "$old" "$new")
  bp=$(per_input_byte "$bm" "$old" "$new")
  # shellcheck disable=SC2059
  printf "$TIMES" "$name" "$ow/$bw" "$(ratio "$ow" "$bw")" "$oc/$bc" "$(ratio "$oc" "$bc")" \
    "$op/$bp" "$(ratio "$om" "$bm")" "$oa/$ba" "$(ratio "$oa" "$ba")" \
    "$oac/$bac" "$(ratio "$oac" "$bac")"
}

# The pairs as lines "name|old|new".
PAIRS=()
read -r -a STEPS <<<"$VERSIONS"
ROOTS=()
for version in "${STEPS[@]}"; do
  ROOTS+=("$(fetch_libssl3 "$version")")
done
echo "ensemble patch: ours = vxdelta patch / apply; peers from Debian; ratios are ours/theirs"
for ((i = 1; i < ${#STEPS[@]}; i++)); do
  from=${STEPS[i - 1]%%-*}
  to=${STEPS[i]%%-*}
  echo "libssl3 ${STEPS[i - 1]} -> ${STEPS[i]}"
  for name in libcrypto.so.3 libssl.so.3; do
    old=$(library "${ROOTS[i - 1]}" "$name")
    new=$(library "${ROOTS[i]}" "$name")
    echo "  $name: $(stat -c %s "$old") -> $(stat -c %s "$new") B"
    PAIRS+=("${name%.so.3} $from>$to|$old|$new")
  done
done
if [ "$MACHO" != 0 ]; then
  # shellcheck source=bench/ensemble/lz4_macho.sh
  source "$ROOT/bench/ensemble/lz4_macho.sh"
  require_tools "$(command -v clang)" "$(command -v ld64.lld-14)"
  sources=${LZ4_SOURCES:-$WORK/lz4-sources}
  [ -n "${LZ4_SOURCES:-}" ] || fetch_lz4_sources "$sources"
  for version in "${LZ4_VERSIONS[@]}"; do
    build_lz4_macho "$sources" "$version" "$WORK/lz4-$version"
  done
  old=$WORK/lz4-${LZ4_VERSIONS[0]}
  new=$WORK/lz4-${LZ4_VERSIONS[1]}
  echo "lz4 ${LZ4_VERSIONS[0]} -> ${LZ4_VERSIONS[1]} (library and program), x86-64 Mach-O, clang -O2 + ld64.lld-14"
  echo "  lz4: $(stat -c %s "$old") -> $(stat -c %s "$new") B"
  PAIRS+=("lz4 macho ${LZ4_VERSIONS[0]}>${LZ4_VERSIONS[1]}|$old|$new")
fi

echo
echo "patch bytes (bsdiff; xdelta3 -9 -S djw; zstd --patch-from --ultra -22 --long=27)"
# shellcheck disable=SC2059
printf "$SIZES" "pair" "ours" "bsdiff" "ratio" "xdelta3" "ratio" "zstd" "ratio"
for pair in "${PAIRS[@]}"; do
  IFS='|' read -r name old new <<<"$pair"
  sizes_row "$name" "$old" "$new"
done
echo
echo "generation and apply against bsdiff/bspatch (best wall and best user+system CPU of $REPEAT;"
echo "peak RSS as bytes per input byte = peak / (old + new), ratio of the peaks)"
# shellcheck disable=SC2059
printf "$TIMES" "pair" "gen wall s" "ratio" "gen cpu s" "ratio" "gen B/in B" "ratio" \
  "apply wall s" "ratio" "apply cpu s" "ratio"
for pair in "${PAIRS[@]}"; do
  IFS='|' read -r name old new <<<"$pair"
  times_row "$name" "$old" "$new"
done
