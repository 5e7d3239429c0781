#!/usr/bin/env bash
# Starts that the real updater refuses, end to end under Xvfb: each row
# gives the updater a start it must refuse with an error box, an exit
# status and no session. The box's text is read from the updater's log, the box is
# answered with the keyboard as a person would, and the status is checked.
#
# rejected.sh BUILD_DIR
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
BUILD=$1
LIB="$ROOT/tests/e2e/lib"
# shellcheck source=SCRIPTDIR/../lib/xvfb.sh
source "$LIB/xvfb.sh"
# shellcheck source=SCRIPTDIR/../lib/session.sh
source "$LIB/session.sh"

UPDATER="$BUILD/bundle/Voxmere Client.app/Contents/SharedSupport/update.app/Contents/MacOS/update"
[ -x "$UPDATER" ] || {
  echo "rejected: missing $UPDATER (build first)" >&2
  exit 1
}
WINDOW="Voxmere Client Update"

# NAME|ARGUMENT FILE|UPDATE.INI|BOX TEXT|EXIT STATUS|PROGRESS WINDOW
# The argument file is what the first pass leaves for the second one (lines
# separated by \n); "-" means no update.ini next to update.app.
ROWS=(
  "argument file with a version that is not a number|--clientupdate\nclient_macosx\nabc\n#|-|Invalid version nr (abc)|1|hidden"
  "argument file of a first pass with a version that is not a number|--nouser\nupdate_macosx\n7x\n2.0.0|-|Invalid version nr (7x)|1|hidden"
  "update.ini with a proxy that is not a URL|--nouser\nupdate_macosx\n2\n2.0.0|[update]\nproxy=http://[::1|'http://[::1' is an invalid proxy specification|2|shown"
)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm-rejected.XXXXXX")
PID=
cleanup() {
  xvfb_stop
  [ -n "$PID" ] && kill "$PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
_ended() { ! kill -0 "$1" 2>/dev/null; }

failures=0
# run_row DIR ARGS INI TEXT STATUS WINDOW: one row in DIR; status 1 with
# the reason in WHY when it fails.
run_row() {
  local row=$1 args=$2 ini=$3 text=$4 status=$5 window=$6 box got=0
  local install="$row/install/Voxmere Client.app/Contents"
  mkdir -p "$row" "$install/SharedSupport/update.app/Contents/MacOS"
  cp "$UPDATER" "$install/SharedSupport/update.app/Contents/MacOS/update"
  [ "$ini" = - ] || printf '%b\n' "$ini" >"$install/SharedSupport/update.ini"
  (
    session_env "$row"
    printf '%b\n' "$args" >"$TMPDIR/vxmclientupdateargs"
    exec "$install/SharedSupport/update.app/Contents/MacOS/update"
  ) &
  PID=$!
  local logs="$row/tmp/voxmere_update_log"
  box=$(box_wait "$logs" 1 60) || {
    WHY="no box was logged"
    return 1
  }
  [ "$box" = "Error"$'\t'"$text" ] || {
    WHY="the box said: ${box//$'\t'/: }"
    return 1
  }
  # The box is up; the progress window is there only once the start was
  # accepted.
  window_wait Error 30 >/dev/null || {
    WHY="no box titled Error appeared"
    return 1
  }
  if [ -n "$(window_find "$WINDOW")" ]; then
    [ "$window" = shown ] || {
      WHY="the progress window was shown"
      return 1
    }
  else
    [ "$window" = hidden ] || {
      WHY="the progress window was not shown"
      return 1
    }
  fi
  box_answer Error 30 || {
    WHY="the box could not be answered"
    return 1
  }
  wait_for 30 _ended "$PID" || {
    WHY="the updater did not end after the box"
    return 1
  }
  wait "$PID" || got=$?
  PID=
  [ "$got" -eq "$status" ] || {
    WHY="exit status $got, not $status"
    return 1
  }
  [ -z "$(TMPDIR="$row/tmp" session_dirs)" ] || {
    WHY="a session directory was made"
    return 1
  }
  ! grep -q '^\[current\]' "$install/SharedSupport/update.ini" 2>/dev/null || {
    WHY="a session was recorded in update.ini"
    return 1
  }
}

xvfb_start
n=0
for entry in "${ROWS[@]}"; do
  IFS='|' read -r name args ini text status window <<<"$entry"
  n=$((n + 1))
  WHY=
  if run_row "$WORK/row$n" "$args" "$ini" "$text" "$status" "$window"; then
    echo "ok: $name: box '$text' answered, exit status $status"
  else
    echo "FAIL: $name: $WHY"
    if [ -n "$PID" ]; then
      kill "$PID" 2>/dev/null || true
      wait "$PID" 2>/dev/null || true
      PID=
    fi
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "rejected: OK"
