#!/usr/bin/env bash
# Executable-aware compression of a real x86-64 Mach-O executable: container
# size with `vxdelta compress --exe` (directive 2) against plain compression
# (directive 1) and against `xz -9e`, and the decompression speed of the
# directive-2 container against the directive-1 one.
#
# The executable is linked with clang and ld64.lld-14 from a generated C
# code base (gen_program.py: MODULES modules of record tables, parsers,
# hash tables, sorting, state machines and libc calls; the default makes a
# file of well over 1 MB).
#
# usage: bench/macho/run.sh [BUILD_DIR]   (default: build-engine)
# env:   MODULES (default 90), REPEAT (default 5), BIN (an existing Mach-O
#        file to measure instead of building one)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-engine}
VXDELTA=$BUILD/bin/vxdelta
MODULES=${MODULES:-90}
REPEAT=${REPEAT:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# shellcheck source=bench/bytediff/bench_lib.sh
source "$ROOT/bench/bytediff/bench_lib.sh"
require_tools "$VXDELTA" "$(command -v xz)" /usr/bin/time

if [ -n "${BIN:-}" ]; then
  cp "$BIN" "$WORK/app"
else
  require_tools "$(command -v clang)" "$(command -v ld64.lld-14)"
  python3 "$ROOT/bench/macho/gen_program.py" "$WORK/src" "$MODULES"
  for c in "$WORK"/src/*.c; do
    clang -target x86_64-apple-macos11 -O2 -w -c "$c" -o "${c%.c}.o"
  done
  ld64.lld-14 -arch x86_64 -platform_version macos 11.0 11.0 -e _main \
    -undefined dynamic_lookup "$WORK"/src/*.o -o "$WORK/app"
fi

"$VXDELTA" compress --exe "$WORK/app" "$WORK/app.exe.vxl"
"$VXDELTA" compress "$WORK/app" "$WORK/app.plain.vxl"
xz -9e -c "$WORK/app" >"$WORK/app.xz"
size() { stat -c %s "$1"; }

read -r ew ec _ <<<"$(measure "$VXDELTA" decompress "$WORK/app.exe.vxl" "$WORK/exe.out")"
read -r pw pc _ <<<"$(measure "$VXDELTA" decompress "$WORK/app.plain.vxl" "$WORK/plain.out")"
read -r xw xc _ <<<"$(measure sh -c "xz -d -c '$WORK/app.xz' >'$WORK/xz.out'")"
for f in exe.out plain.out xz.out; do
  cmp -s "$WORK/app" "$WORK/$f" || { echo "$f differs from the input" >&2; exit 1; }
done

echo "input: $(size "$WORK/app") bytes of x86-64 Mach-O; best of $REPEAT runs"
printf '%-36s %12s %14s %14s\n' "compressed size" "bytes" "/ plain" "/ xz -9e"
for f in "vxdelta compress --exe:app.exe.vxl" "vxdelta compress:app.plain.vxl" "xz -9e:app.xz"; do
  printf '%-36s %12s %14s %14s\n' "${f%%:*}" "$(size "$WORK/${f##*:}")" \
    "$(ratio "$(size "$WORK/${f##*:}")" "$(size "$WORK/app.plain.vxl")")" \
    "$(ratio "$(size "$WORK/${f##*:}")" "$(size "$WORK/app.xz")")"
done
echo
printf '%-36s %12s %12s\n' "decompression" "wall s" "cpu s"
printf '%-36s %12s %12s\n' "vxdelta decompress, directive 2" "$ew" "$ec"
printf '%-36s %12s %12s\n' "vxdelta decompress, directive 1" "$pw" "$pc"
printf '%-36s %12s %12s\n' "xz -d" "$xw" "$xc"
printf '%-36s %12s %12s\n' "time ratio directive 2 / 1" "$(ratio "$ew" "$pw")" "$(ratio "$ec" "$pc")"
