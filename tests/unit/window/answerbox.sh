#!/bin/sh
# answerbox.sh TITLE PROGRAM [ARGS...]
# Runs PROGRAM on a private Xvfb display (Qt's xcb platform) and answers the
# first window titled TITLE as a person would: focus it, press Return. The
# exit status is PROGRAM's. For real-binary runs that end in a message box;
# the updater itself has no unattended mode.
set -u
title=$1
shift
exec xvfb-run -a -s "-nolisten tcp" env QT_QPA_PLATFORM=xcb sh -c '
  title=$1
  shift
  "$@" &
  pid=$!
  win=$(timeout 60 xdotool search --sync --name "^$title\$" | head -n 1)
  if [ -n "$win" ]; then
    xdotool windowfocus --sync "$win" key Return
  fi
  wait "$pid"' answerbox "$title" "$@"
