#!/usr/bin/env bash
# The whole update end to end: a version-1 installation is brought to
# version 2 by the real updater binaries, both passes, through a private
# nginx on 127.0.0.1:8771 that serves a release made by vxm-release.
#
# demo.sh BUILD_DIR [--screenshot FILE] [--keep]
# Exit status 0 only when the installed tree equals version 2 byte for byte,
# the second pass patched the two executables and the client was started.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$1; shift
SCREENSHOT=""
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) SCREENSHOT=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
done
# shellcheck source=lib/nginx.sh
source "$HERE/lib/nginx.sh"
# shellcheck source=lib/trees.sh
source "$HERE/lib/trees.sh"

# A build made for another port (VXM_UPDATE_BASE_URL, VXM_VERSION_SERVER_URL)
# names it here.
PORT=${VXM_DEMO_PORT:-8771}
BUNDLE="$BUILD/bundle/Voxmere Client.app/Contents"
UPDATER="$BUNDLE/SharedSupport/update.app/Contents/MacOS/update"
RELEASE="$BUILD/bin/vxm-release"
KEY="$ROOT/keys/demo_private.der"
for f in "$UPDATER" "$RELEASE" "$KEY"; do
  [ -e "$f" ] || { echo "demo: missing $f (build first)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vxm-demo.XXXXXX")
cleanup() {
  nginx_stop
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  if [ "$KEEP" = 1 ]; then echo "demo: kept $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

say() { printf '%s\n' "$*"; }

say "== Voxmere updater demo (work directory $WORK)"
make_trees "$WORK/trees" "$UPDATER" "$BUNDLE/SharedSupport/translations"

# The version-1 installation, as a user has it.
INSTALL="$WORK/install/Voxmere Client.app/Contents"
mkdir -p "$INSTALL"
cp -a "$WORK/trees/v1/client/." "$INSTALL/"

# The version-2 release: both passes, patches against version 1.
WWW="$WORK/www"
FILES="$WWW/updater-images/client"
mkdir -p "$FILES"
"$RELEASE" build --pass updater --version 2 --new "$WORK/trees/v2/updater" \
  --old "$WORK/trees/v1/updater" --key "$KEY" --out "$FILES" 2>"$WORK/release-updater.log"
"$RELEASE" build --pass client --version 2 --new "$WORK/trees/v2/client" \
  --old "$WORK/trees/v1/client" --key "$KEY" --out "$FILES" 2>"$WORK/release-client.log"
"$RELEASE" versions --out "$WWW/vxm-client-2" stable=2:2.0.0
say "release: $(tail -n 1 "$WORK/release-client.log")"

nginx_start "$WWW" "$PORT"

# The user's environment: private temporary and home directories, the log
# marker so that both passes write their log files.
export TMPDIR="$WORK/tmp" HOME="$WORK/home" VXM_CONFIG_DIR="$WORK/config/"
mkdir -p -m 700 "$TMPDIR" "$HOME" "$VXM_CONFIG_DIR"
touch "$TMPDIR/vxm_update_log"
if [ -n "$SCREENSHOT" ]; then
  Xvfb :77 -screen 0 800x600x24 >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=:77
  sleep 0.5
elif [ -z "${DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi

START=$(date +%s.%N)
"$INSTALL/SharedSupport/update.app/Contents/MacOS/update" &
FIRST=$!
if [ -n "$SCREENSHOT" ]; then
  sleep 1.5
  xwd -root -display "$DISPLAY" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$SCREENSHOT"
  say "screenshot: $SCREENSHOT"
fi
FIRST_STATUS=0
wait "$FIRST" || FIRST_STATUS=$?
say "first pass (updater) exited with status $FIRST_STATUS"

# The second pass runs detached from the temporary tree; it ends by starting
# the client and closing.
STARTED="$TMPDIR/vxmclient_started.log"
for _ in $(seq 1 600); do
  [ -s "$STARTED" ] && ! pgrep -f "$TMPDIR/voxmere_temp_" >/dev/null && break
  sleep 0.2
done
END=$(date +%s.%N)

# What each pass downloaded, from the server's access log: the first
# request for the client's product ini starts the second pass.
awk -v files="$FILES" '
  $7 ~ /vxm_client_macosx\.ini/ && !second { second = 1 }
  $9 == 200 { pass = second ? 2 : 1; n[pass]++; b[pass] += $10
              if ($7 ~ /_patch_$/) { p[pass]++; pb[pass] += $10 } }
  END { for (i = 1; i <= 2; i++)
          printf "pass %d (%s): %d files, %d bytes downloaded, %d patches (%d bytes)\n",
                 i, i == 1 ? "updater" : "client", n[i], b[i], p[i], pb[i] }' \
  "$NGINX_DIR/access.log"

# Bytes the patches saved: each downloaded patch against the whole-file
# download of the same target in the same release.
saved=0
while read -r path; do
  patch="$WWW$path"
  target=${patch%.*_patch_}
  for whole in "$target._lzma2_" "$target._raw_" "$target"; do
    if [ -f "$whole" ]; then
      saved=$((saved + $(stat -c %s "$whole") - $(stat -c %s "$patch")))
      break
    fi
  done
done < <(awk '$9 == 200 && $7 ~ /_patch_$/ { print $7 }' "$NGINX_DIR/access.log")
say "patches saved $saved bytes against whole-file downloads"
# The client executable and the library are real executables built from C
# in both versions; the second pass must have patched both.
for exe in MacOS/vxmclient_mac Frameworks/libvoxcore.dylib; do
  if awk -v want="/2/client/$exe." '$9 == 200 && index($7, want) && $7 ~ /_patch_$/ { found = 1 }
       END { exit !found }' "$NGINX_DIR/access.log"; then
    say "patched executable: $exe"
  else
    say "executable $exe was NOT patched"; PATCHED_EXECUTABLES=0
  fi
done
say "time: $(awk -v a="$START" -v b="$END" 'BEGIN { printf "%.1f", b - a }') s"

ok=${PATCHED_EXECUTABLES:-1}
if [ -s "$STARTED" ]; then
  say "client started: $(tail -n 1 "$STARTED")"
else
  say "client was NOT started"; ok=0
fi
# Every regular file byte for byte, and no file missing or extra. The
# second pass's link repair adds symbolic links for the client's tool
# applications; they are reported, not counted as differences.
files_of() { (cd "$1" && find . -type f | sort); }
if diff <(files_of "$WORK/trees/v2/client") <(files_of "$INSTALL") >"$WORK/diff.txt" &&
   (cd "$WORK/trees/v2/client" && find . -type f -print0 |
      xargs -0 -I{} cmp -s "{}" "$INSTALL/{}") 2>>"$WORK/diff.txt"; then
  say "installed tree equals version 2 byte for byte ($(files_of "$INSTALL" | wc -l) files;" \
      "$(find "$INSTALL" -type l | wc -l) links made by the link repair)"
else
  say "installed tree differs from version 2:"; head -n 20 "$WORK/diff.txt"; ok=0
fi
if [ "$ok" != 1 ]; then
  say "logs: $TMPDIR/voxmere_update_log"
  for f in "$TMPDIR"/voxmere_update_log/*.log; do
    [ -f "$f" ] && { say "--- $f"; tail -n 15 "$f"; }
  done
  exit 1
fi
say "demo: OK"
