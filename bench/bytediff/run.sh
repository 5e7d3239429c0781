#!/usr/bin/env bash
# Byte-diff benchmark: our generator and apply (vxdelta diff --method 2 /
# apply-diff) against Debian's bsdiff/bspatch on two published versions of
# libcrypto.so.3 and on a pathological pair (1 MiB of zeros against the same
# with a changed 4 KiB tail). Prints one table with the ratios ours/theirs.
#
# usage: bench/bytediff/run.sh [BUILD_DIR]   (default: build-engine)
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

fetch_libcrypto() {  # version -> path of the extracted libcrypto.so.3
  local version=$1 dir="$WORK/libssl3-$1"
  mkdir -p "$dir"
  (cd "$dir" && apt-get download "libssl3=$version" >/dev/null 2>&1) ||
    { echo "cannot download libssl3=$version (see apt-cache madison libssl3)" >&2; exit 1; }
  dpkg-deb -x "$dir"/libssl3_*.deb "$dir/root"
  find "$dir/root" -name 'libcrypto.so.3' -type f | head -n 1
}

# shellcheck source=bench/bytediff/bench_lib.sh
source "$ROOT/bench/bytediff/bench_lib.sh"
require_tools "$VXDELTA" "$(command -v bsdiff)" "$(command -v bspatch)" /usr/bin/time

FORMAT='%-18s | %-13s %-5s | %-11s %-5s | %-13s %-5s | %-15s %-5s | %-11s %-5s | %-11s %-5s | %s\n'

row() {  # name old new
  local name=$1 old=$2 new=$3
  local og oc om tg tc tm oa oac ta tac os ts insize
  read -r og oc om <<<"$(measure "$VXDELTA" diff --method 2 "$old" "$new" "$WORK/ours.diff")"
  read -r tg tc tm <<<"$(measure bsdiff "$old" "$new" "$WORK/theirs.diff")"
  read -r oa oac _ <<<"$(measure "$VXDELTA" apply-diff "$old" "$WORK/ours.diff" "$WORK/ours.out")"
  read -r ta tac _ <<<"$(measure bspatch "$old" "$WORK/theirs.out" "$WORK/theirs.diff")"
  cmp -s "$new" "$WORK/ours.out" || { echo "$name: our apply did not rebuild the new file" >&2; exit 1; }
  cmp -s "$new" "$WORK/theirs.out" || { echo "$name: bspatch did not rebuild the new file" >&2; exit 1; }
  os=$(stat -c %s "$WORK/ours.diff")
  ts=$(stat -c %s "$WORK/theirs.diff")
  insize=$(($(stat -c %s "$old") + $(stat -c %s "$new")))
  # shellcheck disable=SC2059
  printf "$FORMAT" "$name" "$og/$tg" "$(ratio "$og" "$tg")" "$oc/$tc" "$(ratio "$oc" "$tc")" \
    "$om/$tm" "$(ratio "$om" "$tm")" "$os/$ts" "$(ratio "$os" "$ts")" \
    "$oa/$ta" "$(ratio "$oa" "$ta")" "$oac/$tac" "$(ratio "$oac" "$tac")" \
    "$(awk -v m="$om" -v n="$insize" 'BEGIN { printf "%.2f", m * 1024 / n }')"
}

OLD_LIB=$(fetch_libcrypto "$OLD_VERSION")
NEW_LIB=$(fetch_libcrypto "$NEW_VERSION")
head -c 1048576 /dev/zero >"$WORK/zeros.old"
{ head -c $((1048576 - 4096)) /dev/zero; head -c 4096 /dev/urandom; } >"$WORK/zeros.new"

echo "byte diff: ours = vxdelta diff --method 2 / apply-diff, theirs = bsdiff / bspatch (Debian)"
echo "libcrypto.so.3: $OLD_VERSION ($(stat -c %s "$OLD_LIB") B) -> $NEW_VERSION ($(stat -c %s "$NEW_LIB") B); best of $REPEAT runs"
echo "ratios are ours/theirs; B/input = our peak memory per byte of old+new"
# shellcheck disable=SC2059
printf "$FORMAT" "pair" "gen wall s" "ratio" "gen cpu s" "ratio" "gen peak KiB" "ratio" \
  "patch bytes" "ratio" "apply wall s" "ratio" "apply cpu s" "ratio" "B/input"
row "libcrypto.so.3" "$OLD_LIB" "$NEW_LIB"
row "zeros 1MiB + tail" "$WORK/zeros.old" "$WORK/zeros.new"
