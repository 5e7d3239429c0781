#!/usr/bin/env bash
# The whole update against its floor, in one run: a version-1 installation
# of FILES files (about TOTAL_MB megabytes) is brought to version 2 by the
# real updater, both passes, through a private nginx; then the floor runs
# back to back on the same material: curl --parallel --parallel-max 6 of
# exactly the URLs the update fetched, sha512sum of every installed file once,
# and vxdelta apply / decompress of the patches and containers it used.
# Prints the time of every step of both passes (from the updater's log
# files), CPU time and peak memory (kernel accounting of every process of the
# update, the detached second pass included), bytes downloaded (nginx access
# log), and the ratios ours/floor with the goals.
#
# usage: bench/update.sh BUILD_DIR [FILES]
#   BUILD_DIR  a Release build whose server URLs point at 127.0.0.1:PORT, e.g.
#              -DVXM_VERSION_SERVER_URL=http://127.0.0.1:8791/vxm-client-2
#              -DVXM_UPDATE_BASE_URL=http://127.0.0.1:8791/updater-images/client/
#              (the port is read from its CMakeCache.txt)
#   FILES      files in the installation, default 5000
# env: TOTAL_MB   megabytes in the installation, default FILES / 5 (200 KB
#                 per file: 1,000 MB at 5,000 files)
#      CACHE      a directory that keeps the generated trees and release
#                 between runs (keyed by FILES, TOTAL_MB and the build's
#                 binaries); without it they are made afresh and removed
#      FLOOR_RUNS runs of the floor, the fastest of each part counts (default 3)
#      PREPARE=1  only make the material (into CACHE) and stop
#      KEEP=1     keep the work directory
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
E2E=$ROOT/tests/e2e/lib
[ $# -ge 1 ] || { sed -n '/^# usage/,/^set -euo/p' "$0" | sed '$d' >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
FILES=${2:-5000}
TOTAL_MB=${TOTAL_MB:-$((FILES / 5))}
KEEP=${KEEP:-0}
# shellcheck source=tests/e2e/lib/nginx.sh
source "$E2E/nginx.sh"
# shellcheck source=tests/e2e/lib/trees.sh
source "$E2E/trees.sh"
# shellcheck source=tests/e2e/lib/release.sh
source "$E2E/release.sh"
# shellcheck source=tests/e2e/lib/session.sh
source "$E2E/session.sh"
# shellcheck source=bench/update/material.sh
source "$HERE/update/material.sh"
# shellcheck source=bench/update/report.sh
source "$HERE/update/report.sh"

VXDELTA=$BUILD/bin/vxdelta
UPDATER_BIN="$BUILD/bundle/Voxmere Client.app/Contents/SharedSupport/update.app/Contents/MacOS/update"
for f in "$VXDELTA" "$UPDATER_BIN" "$BUILD/bin/vxm-release" /usr/bin/time; do
  [ -x "$f" ] || { echo "bench: missing $f (build the update, vxm-release and vxdelta_tool targets)" >&2; exit 2; }
done

# The build's server port: both URLs must name 127.0.0.1 and one port, and
# the project's e2e tests own 8771.
build_port() {
  local cache=$BUILD/CMakeCache.txt url port ports=()
  for url in VXM_VERSION_SERVER_URL VXM_UPDATE_BASE_URL; do
    port=$(sed -n "s|^$url:[A-Z]*=http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p" "$cache")
    [ -n "$port" ] || { echo "bench: $url in $cache is not http://127.0.0.1:PORT/..." >&2; return 1; }
    ports+=("$port")
  done
  [ "${ports[0]}" = "${ports[1]}" ] || { echo "bench: the build's URLs name two ports" >&2; return 1; }
  [ "${ports[0]}" != 8771 ] || { echo "bench: port 8771 belongs to the e2e tests; configure the build for another" >&2; return 1; }
  echo "${ports[0]}"
}
PORT=$(build_port)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm-bench-update.XXXXXX")
cleanup() {
  nginx_stop
  if [ "$KEEP" = 1 ]; then echo "bench: kept $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
say() { printf '%s\n' "$*" >&2; }

# Helpers in C: the file generator and the subreaper that accounts for the
# detached second pass.
mkdir -p "$WORK/bin"
for tool in gen_files reap_run; do
  gcc -O2 -o "$WORK/bin/$tool" "$HERE/update/$tool.c"
done

# The material, from the cache when it holds one for these inputs.
material_key() {
  { echo "$FILES $TOTAL_MB"; cat "$UPDATER_BIN" "$BUILD/bin/vxm-release" \
      "$HERE/update/material.sh" "$HERE/update/gen_files.c" "$E2E/trees.sh" "$E2E/release.sh"; } |
    sha256sum | cut -c1-16
}
if [ -n "${CACHE:-}" ]; then
  MATERIAL=$CACHE/update-$FILES-$TOTAL_MB-$(material_key)
else
  MATERIAL=$WORK/material
fi
if [ ! -e "$MATERIAL/complete" ]; then
  rm -rf "$MATERIAL"
  mkdir -p "$MATERIAL"
  say "making $FILES files (~$TOTAL_MB MB) and their release in $MATERIAL"
  t0=$(date +%s.%N)
  material_make "$MATERIAL" "$BUILD" "$ROOT" "$FILES" "$TOTAL_MB" "$WORK/bin/gen_files"
  say "material made in $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }') s"
  touch "$MATERIAL/complete"
fi
[ "${PREPARE:-0}" != 1 ] || exit 0

INSTALL="$WORK/install/Voxmere Client.app/Contents"
mkdir -p "$WORK/install"
cp -a "$MATERIAL/pristine/." "$WORK/install/"
# Written back before the clock starts, so that the update does not wait
# for the copy's writes.
sync

# --- the update ---------------------------------------------------------
serve_release "$MATERIAL/www" "$PORT"
# The update's own requests follow the server's start-up checks.
log_start=$(wc -l <"$NGINX_DIR/access.log")
mkdir -p "$WORK/session"
UPDATE_T0=$(date +%s.%N)
(
  session_env "$WORK/session"
  export QT_QPA_PLATFORM=offscreen
  # The subreaper samples the resident size of this run's processes.
  export VXM_RSS_SAMPLES=$WORK/rss.txt VXM_RSS_PREFIX=$WORK/
  "$WORK/bin/reap_run" "$WORK/processes.txt" 3600 \
    "$INSTALL/SharedSupport/update.app/Contents/MacOS/update"
) || say "bench: the first pass ended with status $?"
UPDATE_T1=$(date +%s.%N)
tail -n +$((log_start + 1)) "$NGINX_DIR/access.log" >"$WORK/access.log"

STARTED=$WORK/session/tmp/vxmclient_started.log
[ -s "$STARTED" ] || { say "bench: the client was not started; logs in $WORK/session/tmp"; KEEP=1; exit 1; }
# The same files with the same contents as version 2 (digests of both trees:
# one cmp per file would take minutes at 20,000 files).
digests() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha512sum); }
if ! diff <(digests "$MATERIAL/trees/v2/client") <(digests "$INSTALL") >"$WORK/differences.txt"; then
  say "bench: the installation differs from version 2:"; head -n 20 "$WORK/differences.txt" >&2
  KEEP=1; exit 1
fi
LOGS=()
mapfile -t LOGS < <(find "$WORK/session/tmp/voxmere_update_log" -name 'update__*.log' | sort)
[ ${#LOGS[@]} -eq 2 ] || { say "bench: expected two log files, found ${#LOGS[@]}"; KEEP=1; exit 1; }

# --- the floor ----------------------------------------------------------
FLOOR=$WORK/floor
mkdir -p "$FLOOR/curl"
# The URLs of every complete transfer, in the order the update made them.
awk '$9 == 200 { print $7 }' "$WORK/access.log" >"$FLOOR/paths.txt"
awk -v base="http://127.0.0.1:$PORT" -v out="$FLOOR/curl" \
  '{ printf "url = \"%s%s\"\noutput = \"%s/%d\"\n", base, $0, out, NR }' \
  "$FLOOR/paths.txt" >"$FLOOR/curl.cfg"
timed() {  # OUT COMMAND...: wall user sys maxrss_kib of COMMAND into OUT
  local out=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$out" "$@"
}
find "$INSTALL" -type f -print0 >"$FLOOR/installed.list"
floor_engine_script "$FLOOR/paths.txt" "$MATERIAL" "$VXDELTA" "$FLOOR/out" >"$FLOOR/engine.sh"
# The three parts back to back, FLOOR_RUNS times; each part's fastest run
# counts, so that the machine's other load weighs on the floor as little as
# it can.
for ((run = 1; run <= ${FLOOR_RUNS:-3}; run++)); do
  mkdir -p "$FLOOR/curl"
  timed "$FLOOR/curl.time.$run" curl --parallel --parallel-max 6 --no-progress-meter -f -K "$FLOOR/curl.cfg"
  FLOOR_BYTES=$(find "$FLOOR/curl" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  rm -rf "$FLOOR/curl"
  timed "$FLOOR/sha512sum.time.$run" xargs -0 -a "$FLOOR/installed.list" sha512sum >/dev/null
  timed "$FLOOR/engine.time.$run" sh "$FLOOR/engine.sh"
  rm -rf "$FLOOR/out"
done
for part in curl sha512sum engine; do
  sort -n "$FLOOR/$part.time".* | head -n 1 >"$FLOOR/$part.time"
done
nginx_stop

report_all
