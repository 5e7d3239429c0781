#!/bin/sh
# Runs one test command with a private TMPDIR, HOME and VXM_CONFIG_DIR.
# The directory is removed afterwards unless VXM_KEEP_TEST_DIR is set.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/vxmtest.XXXXXX") || exit 1
mkdir -p -m 700 "$dir/tmp" "$dir/home" "$dir/config"
TMPDIR="$dir/tmp" HOME="$dir/home" VXM_CONFIG_DIR="$dir/config/" \
  XDG_DATA_HOME="$dir/home/.local/share" XDG_RUNTIME_DIR="$dir/tmp" \
  QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" VXM_TEST_ROOT="$dir" \
  "$@"
status=$?
[ -n "${VXM_KEEP_TEST_DIR:-}" ] || rm -rf "$dir"
exit $status
