#!/usr/bin/env bash
# A tampered file on the update server: the real updater binaries update a
# version-1 installation through a private nginx on 127.0.0.1:8771 under
# Xvfb. One client file served for release 2 has a flipped byte, so its hash
# no longer matches the signed product ini: the second pass (the client
# pass) must fail, undo what it installed and keep its session. Once the
# file on the server is repaired, starting the second pass again continues
# that session and completes it. Every message box is read from the log and
# answered with the keyboard, and the windows are closed as a person would.
#
# tampered.sh BUILD_DIR XCLOSE REAPER [--keep]
#   XCLOSE, REAPER: the helper programs built next to this script.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
BUILD=$1 XCLOSE=$2 REAPER=$3
KEEP=${4:-}
LIB="$ROOT/tests/e2e/lib"
# shellcheck source=SCRIPTDIR/../lib/nginx.sh
source "$LIB/nginx.sh"
# shellcheck source=SCRIPTDIR/../lib/trees.sh
source "$LIB/trees.sh"
# shellcheck source=SCRIPTDIR/../lib/session.sh
source "$LIB/session.sh"
# shellcheck source=SCRIPTDIR/../lib/xvfb.sh
source "$LIB/xvfb.sh"

PORT=8771
WINDOW="Voxmere Client Update"
CANCELLED_BOX=$(printf 'Update\tUpdate cancelled. Push "Details" to check reasons.')
# A file that changes from version 1 to 2 and is served whole, late in the
# replace list, so that files installed before it must be undone too.
TAMPERED="Resources/strings_40.txt"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm-tampered.XXXXXX")
RUN=
cleanup() {
  nginx_stop
  # Without their display the updater processes end by themselves.
  xvfb_stop
  if [ -n "$RUN" ]; then
    wait_for 10 _ended "$RUN" || kill "$RUN" 2>/dev/null || true
  fi
  if [ "$KEEP" = --keep ]; then echo "tampered: kept $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

_ended() { ! kill -0 "$1" 2>/dev/null; }

fail() {
  echo "FAIL: $*"
  local f
  for f in "$TMPDIR"/voxmere_update_log/*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 12 "$f" | cut -c1-300; }
  done
  exit 1
}

ok() { echo "ok [${SECONDS}s]: $*"; }

# run_ends RUN_PID SECONDS: waits for the reaper running a pass and returns
# its status (the started program's).
run_ends() {
  wait_for "$2" _ended "$1" || fail "the updater did not end within $2 s"
  local status=0
  wait "$1" || status=$?
  RUN=
  return $status
}

# all_ended_well ENDS: every process that ended below the reaper exited 0.
all_ended_well() {
  [ -s "$1" ] && ! grep -v ' exit 0$' "$1"
}

pass_log() {
  grep -l -e "$1" "$TMPDIR"/voxmere_update_log/*.log | head -n 1
}

make_release "$WORK" "$BUILD" "$ROOT/keys/demo_private.der"
INSTALL=$(install_v1 "$WORK")
ok "release 2 built"
SERVED="$WORK/www/updater-images/client/2/client/$TAMPERED._raw_"
[ -f "$SERVED" ] || fail "the release does not serve $TAMPERED as a whole file any more;" \
  "choose another file to tamper with"
cp "$SERVED" "$WORK/served-good"
flip_byte "$SERVED" 3
cmp -s "$SERVED" "$WORK/served-good" && fail "the byte was not flipped"
serve_release "$WORK/www" "$PORT" || fail "no server for the release"
session_env "$WORK"
xvfb_start
LOGS="$TMPDIR/voxmere_update_log"

echo "== first run: release 2 with a tampered $TAMPERED"
"$REAPER" "$WORK/ends-1" "$INSTALL/SharedSupport/update.app/Contents/MacOS/update" &
RUN=$!
box=$(box_wait "$LOGS" 1 180) || fail "no message box was logged"
[ "$box" = "$CANCELLED_BOX" ] || fail "the first box said: $box"
box_answer Update 30 || fail "the box could not be answered"
ok "box '${box//$'\t'/: }' shown and answered"
# A failed update leaves the window open for the details; closing it ends
# the pass.
main=$(window_wait "$WINDOW" 10) || fail "the progress window is gone after the box"
[ "$(log_boxes "$LOGS" | wc -l)" -eq 1 ] || fail "more boxes: $(log_boxes "$LOGS")"
"$XCLOSE" "$main" || fail "the progress window did not take the close request"
run_ends "$RUN" 30 || fail "the first pass ended with status $?"
all_ended_well "$WORK/ends-1" || fail "a pass ended badly: $(cat "$WORK/ends-1")"
# The second pass runs as "/bin/sh update.sh", which ends with its status.
grep -q ' sh exit 0$' "$WORK/ends-1" || fail "no second pass ended: $(cat "$WORK/ends-1")"
ok "both passes ended with status 0 after the window was closed"

client_log=$(pass_log 'CLIENTUPDATE true') || fail "the second pass wrote no log"
grep -q -F 'Message box "Update"' "$client_log" || fail "the box was not the second pass's"
{ grep -q -F "Signature check failed for \"$INSTALL/" "$client_log" &&
  grep -q "Signature check failed for \".*/$TAMPERED\"\$" "$client_log"; } ||
  fail "the log does not name the installed $TAMPERED as failing its check"
ok "log: the installed $TAMPERED failed its signature check"
same_files "$WORK/trees/v1/client" "$INSTALL" || fail "the installation is not version 1"
[ -z "$(find "$INSTALL" -name '*_old*')" ] || fail "_old files left: $(find "$INSTALL" -name '*_old*')"
[ ! -e "$TMPDIR/vxmclient_started.log" ] || fail "the client was started after a failed update"
ok "installation is version 1 byte for byte, no _old files, client not started"
mapfile -t sessions < <(session_dirs)
[ "${#sessions[@]}" -eq 1 ] || fail "session directories: ${sessions[*]}"
SESSION=${sessions[0]}
ini="$SESSION/SharedSupport/update.ini"
{ [ -f "$ini" ] && grep -qx 'version=2' "$ini" && grep -qx "dir=$SESSION" "$ini" &&
  grep -qx 'type=client_macosx' "$ini"; } || fail "update.ini does not record the session: $ini"
[ -s "$TMPDIR/vxmclientupdateargs" ] || fail "the argument file of the second pass is gone"
ok "update.ini records the session in $(basename "$SESSION")"

echo "== second run: the file on the server repaired, the second pass started again"
cp "$WORK/served-good" "$SERVED"
mv "$LOGS" "$WORK/logs-1"
"$REAPER" "$WORK/ends-2" /bin/sh "$TMPDIR/update.sh" &
RUN=$!
answered=0
deadline=$((SECONDS + 180))
while ! _ended "$RUN"; do
  if [ "$(log_boxes "$LOGS" | wc -l)" -gt "$answered" ]; then
    answered=$((answered + 1))
    title=$(log_boxes "$LOGS" | sed -n "${answered}p" | cut -f1)
    box_answer "$title" 30 || true
  fi
  [ "$SECONDS" -lt "$deadline" ] || fail "the second run did not end within 180 s"
  wait_for 1 _ended "$RUN" || true
done
run_ends "$RUN" 1 || fail "the second pass ended with status $?"
all_ended_well "$WORK/ends-2" || fail "a process ended badly: $(cat "$WORK/ends-2")"
[ "$answered" -eq 0 ] || fail "boxes shown: $(log_boxes "$LOGS")"
ok "second pass ended with status 0, no box shown"

rerun_log=$(pass_log 'CLIENTUPDATE true') || fail "the second run wrote no log"
{ grep -q 'Continuing previous session' "$rerun_log" &&
  grep -q -F "initalizeStart \"$SESSION\"" "$rerun_log"; } || fail "the session was not continued"
downloads=$(grep -c 'Requesting download of' "$rerun_log" || true)
{ [ "$downloads" -eq 1 ] &&
  grep 'Requesting download of' "$rerun_log" | grep -q -F "$TAMPERED._raw_"; } ||
  fail "the rerun downloaded $downloads files, not only the repaired one"
ok "session continued; only the repaired file was downloaded again"
same_files "$WORK/trees/v2/client" "$INSTALL" || fail "the installation is not version 2"
grep -q '^vxmclient_mac 2 started' "$TMPDIR/vxmclient_started.log" ||
  fail "the version-2 client was not started"
ok "installation is version 2 byte for byte ($(cd "$INSTALL" && find . -type f | wc -l) files), client 2 started"
[ -z "$(session_dirs)" ] || fail "session directories left: $(session_dirs)"
[ ! -e "$TMPDIR/vxmclientupdateargs" ] || fail "the argument file is left"
[ ! -e "$INSTALL/SharedSupport/update.ini" ] || fail "update.ini is left in the installation"
ok "session cleaned up: no temporary directory, argument file or update.ini"
echo "tampered: OK"
