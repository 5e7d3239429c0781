#!/usr/bin/env bash
# Ensemble patch benchmark: our generator and apply (vxdelta patch / apply)
# against Debian's bsdiff/bspatch, xdelta3 -9 -S djw and
# zstd --patch-from --ultra -22 --long=27 on two published versions of
# libcrypto.so.3 and libssl.so.3. Prints one table per measure with the
# ratios ours/theirs.
#
# usage: bench/ensemble/run.sh [BUILD_DIR]   (default: build-engine)
# env:   OLD_VERSION / NEW_VERSION of libssl3 (default 3.0.17-1~deb12u2 and
#        3.0.20-1~deb12u2), REPEAT (timing runs per command, default 3)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-engine}
VXDELTA=$BUILD/bin/vxdelta
OLD_VERSION=${OLD_VERSION:-3.0.17-1~deb12u2}
NEW_VERSION=${NEW_VERSION:-3.0.20-1~deb12u2}
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

SIZES='%-16s | %-9s | %-9s %-5s | %-9s %-5s | %-9s %-5s\n'
TIMES='%-16s | %-11s %-5s | %-15s %-5s | %-11s %-5s | %-11s %-5s\n'

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

times_row() {  # name old new
  local name=$1 old=$2 new=$3 oc om bc bm oa oac ba bac
  read -r _ oc om <<<"$(measure "$VXDELTA" patch "$old" "$new" "$WORK/ours.patch")"
  read -r _ bc bm <<<"$(measure bsdiff "$old" "$new" "$WORK/bs.patch")"
  read -r oa oac _ <<<"$(measure "$VXDELTA" apply "$old" "$WORK/ours.patch" "$WORK/ours.out")"
  read -r ba bac _ <<<"$(measure bspatch "$old" "$WORK/bs.out" "$WORK/bs.patch")"
  # shellcheck disable=SC2059
  printf "$TIMES" "$name" "$oc/$bc" "$(ratio "$oc" "$bc")" "$om/$bm" "$(ratio "$om" "$bm")" \
    "$oa/$ba" "$(ratio "$oa" "$ba")" "$oac/$bac" "$(ratio "$oac" "$bac")"
}

OLD_ROOT=$(fetch_libssl3 "$OLD_VERSION")
NEW_ROOT=$(fetch_libssl3 "$NEW_VERSION")
NAMES=(libcrypto.so.3 libssl.so.3)

echo "ensemble patch: ours = vxdelta patch / apply; peers from Debian"
echo "libssl3 $OLD_VERSION -> $NEW_VERSION; ratios are ours/theirs"
for name in "${NAMES[@]}"; do
  echo "  $name: $(stat -c %s "$(library "$OLD_ROOT" "$name")") -> $(stat -c %s "$(library "$NEW_ROOT" "$name")") B"
done
echo
echo "patch bytes (bsdiff; xdelta3 -9 -S djw; zstd --patch-from --ultra -22 --long=27)"
# shellcheck disable=SC2059
printf "$SIZES" "file" "ours" "bsdiff" "ratio" "xdelta3" "ratio" "zstd" "ratio"
for name in "${NAMES[@]}"; do
  sizes_row "$name" "$(library "$OLD_ROOT" "$name")" "$(library "$NEW_ROOT" "$name")"
done
echo
echo "generation and apply against bsdiff/bspatch (user+system CPU, best of $REPEAT; peak RSS)"
# shellcheck disable=SC2059
printf "$TIMES" "file" "gen cpu s" "ratio" "gen peak KiB" "ratio" "apply wall s" "ratio" \
  "apply cpu s" "ratio"
for name in "${NAMES[@]}"; do
  times_row "$name" "$(library "$OLD_ROOT" "$name")" "$(library "$NEW_ROOT" "$name")"
done
