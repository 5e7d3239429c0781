# shellcheck shell=bash
# A user's version-1 installation and a maker's version-2 release for runs of
# the real updater, the user's environment, and the checks on what a run
# left behind. Source this file after trees.sh, nginx.sh and xvfb.sh; it
# defines make_release, install_v1, session_env, same_files, flip_byte,
# session_dirs and serve_release.

# make_release WORK BUILD KEY: the trees of versions 1 and 2 under
# WORK/trees, release 2 of both passes under WORK/www laid out as the file
# server serves it, and the version server's answer (stable 2, "2.0.0").
# The trees carry the build's updater without its debug sections: the same
# program, a small fraction of the bytes to compress.
make_release() {
  local work=$1 build=$2 key=$3
  local bundle="$build/bundle/Voxmere Client.app/Contents"
  local release="$build/bin/vxm-release" files="$work/www/updater-images/client"
  local pass
  mkdir -p "$work/bin" "$files"
  objcopy --strip-debug "$bundle/SharedSupport/update.app/Contents/MacOS/update" "$work/bin/update"
  make_trees "$work/trees" "$work/bin/update" "$bundle/SharedSupport/translations"
  # The passes write disjoint files: both are built at once.
  local -A builds=()
  for pass in updater client; do
    "$release" build --pass "$pass" --version 2 --new "$work/trees/v2/$pass" \
      --old "$work/trees/v1/$pass" --key "$key" --out "$files" 2>"$work/release-$pass.log" &
    builds[$pass]=$!
  done
  for pass in updater client; do
    wait "${builds[$pass]}" || {
      echo "vxm-release failed for the $pass pass:" >&2
      tail -n 5 "$work/release-$pass.log" >&2
      return 1
    }
  done
  "$release" versions --out "$work/www/vxm-client-2" stable=2:2.0.0 >/dev/null
}

# install_v1 WORK: copies version 1 to WORK/install as a user has it and
# prints its Contents/ directory.
install_v1() {
  local contents="$1/install/Voxmere Client.app/Contents"
  mkdir -p "$contents"
  cp -a "$1/trees/v1/client/." "$contents/"
  printf '%s\n' "$contents"
}

# session_env WORK: the user's private temporary, home and configuration
# directories, and the marker that makes every pass write a log file.
session_env() {
  export TMPDIR="$1/tmp" HOME="$1/home" VXM_CONFIG_DIR="$1/config/" XDG_RUNTIME_DIR="$1/run"
  mkdir -m 700 "$TMPDIR" "$HOME" "$VXM_CONFIG_DIR" "$XDG_RUNTIME_DIR"
  touch "$TMPDIR/vxm_update_log"
}

# same_files EXPECTED ACTUAL: the same regular files, byte for byte, none
# missing and none extra; differences are printed. Symbolic links are not
# compared: the second pass's link repair adds some for the tool
# applications.
same_files() {
  local expected=$1 actual=$2 f status=0
  diff <(cd "$expected" && find . -type f | sort) <(cd "$actual" && find . -type f | sort) ||
    return 1
  while IFS= read -r -d '' f; do
    cmp -s "$expected/$f" "$actual/$f" || {
      echo "differs: $f"
      status=1
    }
  done < <(cd "$expected" && find . -type f -print0)
  return $status
}

# flip_byte FILE OFFSET: inverts every bit of one byte in place.
flip_byte() {
  local file=$1 offset=$2 value
  value=$(od -A n -t u1 -j "$offset" -N 1 "$file" | tr -d ' ')
  [ -n "$value" ] || return 1
  # shellcheck disable=SC2059
  printf "\\$(printf '%03o' $((value ^ 255)))" |
    dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

# session_dirs: the updater's temporary session directories in TMPDIR.
session_dirs() {
  find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'voxmere_temp_*'
}

# serve_release WWW PORT: nginx on 127.0.0.1:PORT serving WWW, once no other
# server holds the port (other runs of the demo use the same one, compiled
# into the updater); then checks that the server answering is this one, and
# starts again when another server took the port first.
serve_release() {
  local www=$1 port=$2 deadline=$((SECONDS + 240))
  _port_free "$port" || echo "127.0.0.1:$port is in use; waiting for it to be free" >&2
  while [ "$SECONDS" -lt "$deadline" ]; do
    if _port_free "$port"; then
      nginx_start "$www" "$port" && _serving "$www" "$port" && return 0
      nginx_stop
    fi
    sleep 0.5
  done
  echo "no server of this run on 127.0.0.1:$port within 240 s: the port stayed taken" >&2
  return 1
}

_port_free() {
  local status=0
  curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$1/" || status=$?
  [ "$status" -eq 7 ]
}

_serving() {
  curl -s --max-time 5 "http://127.0.0.1:$2/vxm-client-2" | cmp -s - "$1/vxm-client-2" &&
    kill -0 "$NGINX_PID" 2>/dev/null
}
