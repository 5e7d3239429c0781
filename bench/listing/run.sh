#!/usr/bin/env bash
# The list step against sha512sum, the I/O and hashing floor.
#
# Generates an installation of FILES files (TOTAL_MB megabytes, sizes spread
# around the mean) and a client product ini that lists every file as a 5-part
# line whose final hash is current, with two patch candidates per file whose
# old hashes do not match, so the step compares each file with three hashes.
# Then times, best of RUNS with a warm page cache: sha512sum over the files,
# the list step (bench_listing list), and Qt's and libcrypto's SHA-512 over
# the same files.
#
# Usage: bench/listing/run.sh [BUILD_DIR]   (environment: FILES=5000 TOTAL_MB=500 RUNS=3)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build}
BIN=$BUILD/bench/listing/bench_listing
FILES=${FILES:-5000}
TOTAL_MB=${TOTAL_MB:-500}
RUNS=${RUNS:-3}
[ -x "$BIN" ] || { echo "missing $BIN: build the target bench_listing first" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm_listing.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
INSTALL=$WORK/install/Contents
TEMP=$WORK/temp
mkdir -p "$INSTALL" "$TEMP"

mean=$((TOTAL_MB * 1000000 / FILES))
echo "generating $FILES files, about $TOTAL_MB MB, in $WORK" >&2
for ((i = 0; i < FILES; i++)); do
    dir=$INSTALL/d$((i / 100))
    [ -d "$dir" ] || mkdir -p "$dir"
    # Sizes from mean/2 to 3*mean/2, spread deterministically.
    size=$((mean / 2 + (i * 7919) % mean))
    head -c "$size" /dev/urandom >"$dir/f$i.bin"
done

other=$(printf 'not installed' | sha512sum | cut -d' ' -f1)
(
    cd "$INSTALL"
    echo "[client]"
    find . -type f -printf '%P\n' | sort | xargs sha512sum | while read -r hash path; do
        size=$(stat -c %s "$path")
        echo "$path._lzma2_=$other::$size::$hash::$size::$path"
        echo "$path.1_patch_=$other::100::$other::$size::$path"
        echo "$path.2_patch_=$other::100::$other::$size::$path"
    done
) >"$TEMP/vxm_client_macosx.ini"

mapfile -t files < <(find "$INSTALL" -type f | sort)
bytes=$(du -cb "${files[@]}" | tail -n 1 | cut -f1)
cat "${files[@]}" >/dev/null  # warm the page cache

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# The two measurements alternate, so that load from other processes on the
# machine falls on both alike.
sums=()
lists=()
for ((r = 0; r < RUNS; r++)); do
    t0=$(now)
    printf '%s\0' "${files[@]}" | xargs -0 sha512sum >/dev/null
    t1=$(now)
    sums+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
    line=$("$BIN" list "$INSTALL" "$TEMP" 2>/dev/null)
    echo "  run $((r + 1)): sha512sum ${sums[-1]} s, $line" >&2
    lists+=("$(echo "$line" | sed -E 's/.* ([0-9.]+) s$/\1/')")
done
sha512sum_s=$(best "${sums[@]}")
list_s=$(best "${lists[@]}")

echo "files: ${#files[@]}, bytes: $bytes"
echo "sha512sum:  ${sha512sum_s} s (best of $RUNS)"
echo "list step:  ${list_s} s (best of $RUNS)"
awk -v l="$list_s" -v s="$sha512sum_s" 'BEGIN { printf "ratio list/sha512sum: %.2f\n", l / s }'
"$BIN" hash qt "${files[@]}"
"$BIN" hash openssl "${files[@]}"
