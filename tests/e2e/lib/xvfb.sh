# shellcheck shell=bash
# A private Xvfb display for runs of the real updater, and the hands of a
# person in front of it: wait for a window by its exact title, read what a
# message box says from the updater's log, press the box's default button.
# The updater has no unattended mode; every box is answered this way.
# Source this file; it defines wait_for, xvfb_start, xvfb_stop,
# window_find, window_wait, window_gone_wait, log_boxes, box_wait and
# box_answer. Needs Xvfb and xdotool.

# wait_for SECONDS COMMAND [ARGS...]: runs COMMAND every 0.1 s until it
# succeeds (status 0) or SECONDS have passed (status 1).
wait_for() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# xvfb_start: an Xvfb on a display number it picks itself; exports DISPLAY
# and QT_QPA_PLATFORM=xcb so that Qt programs show real windows on it.
xvfb_start() {
  XVFB_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vxm-xvfb.XXXXXX")
  # -displayfd: the number is written once the server accepts clients.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
    3>"$XVFB_DIR/display" >"$XVFB_DIR/log" 2>&1 &
  XVFB_PID=$!
  if ! wait_for 20 test -s "$XVFB_DIR/display"; then
    echo "Xvfb did not start:" >&2
    cat "$XVFB_DIR/log" >&2
    return 1
  fi
  DISPLAY=":$(head -n 1 "$XVFB_DIR/display")"
  export DISPLAY QT_QPA_PLATFORM=xcb
}

xvfb_stop() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
  [ -n "${XVFB_DIR:-}" ] && rm -rf "$XVFB_DIR"
  XVFB_DIR=
}

# window_find TITLE: the ids of the mapped windows titled exactly TITLE, one
# a line (xdotool matches case-insensitively and by pattern, so every match
# is checked against the title).
window_find() {
  local title=$1 pattern w
  pattern=$(printf '%s' "$title" | sed 's/[][\.*^$+?(){}|]/\\&/g')
  for w in $(xdotool search --onlyvisible --name "^$pattern\$" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$title" ] && echo "$w"
  done
  return 0
}

# window_wait TITLE SECONDS: prints the id of a mapped window titled TITLE
# once there is one; status 1 when none appears in time.
window_wait() {
  local title=$1 seconds=$2
  wait_for "$seconds" _window_present "$title" || return 1
  window_find "$title" | head -n 1
}

_window_present() {
  [ -n "$(window_find "$1")" ]
}

# window_gone_wait ID SECONDS: waits until window ID is no longer mapped.
window_gone_wait() {
  wait_for "$2" _window_unmapped "$1"
}

_window_unmapped() {
  ! xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# log_boxes LOG_DIR: every message box the updater logged in the log files
# of LOG_DIR, oldest first, one a line as TITLE<tab>TEXT (the box's own
# text, with Qt's quoting undone).
log_boxes() {
  local dir=$1
  [ -d "$dir" ] || return 0
  find "$dir" -name 'update__*.log' -print0 | xargs -0 -r cat |
    sed -n 's/^\([^\t]*\)\t|\tDebug\t|\tMessage box "\([^"]*\)" "\(.*\)"$/\1\t\2\t\3/p' |
    sort -s -t "$(printf '\t')" -k1,1 | cut -f2- | sed 's/\\"/"/g; s/\\\\/\\/g'
}

# box_wait LOG_DIR N SECONDS: prints TITLE<tab>TEXT of the N-th box logged
# in LOG_DIR once it has been logged; status 1 when it is not in time.
box_wait() {
  local dir=$1 n=$2 seconds=$3
  wait_for "$seconds" _boxes_at_least "$dir" "$n" || return 1
  log_boxes "$dir" | sed -n "${n}p"
}

_boxes_at_least() {
  [ "$(log_boxes "$1" | wc -l)" -ge "$2" ]
}

# box_answer TITLE SECONDS: as a person would, gives the box titled TITLE
# the focus, presses Return (its default button) and waits until the box is
# gone. Status 1 when no such box appears or it does not go away.
box_answer() {
  local title=$1 seconds=$2 win
  win=$(window_wait "$title" "$seconds") || {
    echo "no window titled '$title' appeared" >&2
    return 1
  }
  xdotool windowfocus --sync "$win" key Return
  window_gone_wait "$win" "$seconds" || {
    echo "the window titled '$title' did not close on Return" >&2
    return 1
  }
}
