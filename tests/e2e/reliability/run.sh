#!/usr/bin/env bash
# Reliability scenarios of the real updater: interruption, server faults,
# tampering, full disk and read-only installations, hostile inputs.
#
# run.sh BUILD_DIR setup
#   builds the version-1 installation and the version-2 release into
#   BUILD_DIR/tests/e2e/reliability/material (the ctest fixture does this once)
# run.sh BUILD_DIR SCENARIO [--full] [--only TEXT] [--keep]
#   serves that release with a private nginx behind the fault proxy on
#   127.0.0.1:8771 (the address compiled into the updater) and runs the
#   scenario's cases; without --full (or VXM_RELIABILITY_FULL=1) a reduced
#   set. The material is built first when it is missing.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
E2E=$(cd "$HERE/.." && pwd)
ROOT=$(cd "$E2E/../.." && pwd)
BUILD=$(cd "$1" && pwd)
SCENARIO=$2
shift 2
ARGS=()
KEEP=0
[ "${VXM_RELIABILITY_FULL:-0}" = 1 ] && ARGS+=(--full)
while [ $# -gt 0 ]; do
  case "$1" in
    --full) ARGS+=(--full); shift ;;
    --only) ARGS+=(--only "$2"); shift 2 ;;
    --keep) KEEP=1; shift ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# shellcheck source=../lib/nginx.sh
source "$E2E/lib/nginx.sh"
# shellcheck source=../lib/trees.sh
source "$E2E/lib/trees.sh"
# shellcheck source=../lib/release.sh
source "$E2E/lib/release.sh"

MATERIAL="$BUILD/tests/e2e/reliability/material"
make_material() {
  rm -rf "$MATERIAL"
  mkdir -p "$MATERIAL"
  release_make "$MATERIAL" "$BUILD" "$ROOT"
  touch "$MATERIAL/ready"
}
if [ "$SCENARIO" = setup ]; then
  make_material
  echo "setup: 1 passed, 0 failed"
  exit 0
fi
[ -e "$MATERIAL/ready" ] || make_material

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm-reliability.XXXXXX")
cleanup() {
  nginx_stop
  if [ "$KEEP" = 1 ]; then echo "reliability: kept $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
for d in trees pristine www; do ln -s "$MATERIAL/$d" "$WORK/$d"; done

UPSTREAM=$(PYTHONDONTWRITEBYTECODE=1 python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
nginx_start "$WORK/www" "$UPSTREAM"
PYTHONDONTWRITEBYTECODE=1 python3 "$HERE/reliability.py" --work "$WORK" --build "$BUILD" --upstream "$UPSTREAM" --scenario "$SCENARIO" \
  ${ARGS[@]+"${ARGS[@]}"}
