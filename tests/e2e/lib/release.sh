# shellcheck shell=bash
# Builds the material of an end-to-end update test once: the demo's version-1
# and version-2 trees, a version-1 installation to copy for every case, and
# the version-2 release (both passes, patches against version 1) laid out as
# the update file server serves it, with the version server's answer.
# Source this file after trees.sh; it defines release_make.

# release_make WORK BUILD_DIR ROOT
#   WORK/trees/v1, WORK/trees/v2: the product trees (see trees.sh)
#   WORK/pristine/Voxmere Client.app/Contents: the version-1 installation
#   WORK/www: the server root (updater-images/client/2/..., vxm-client-2)
release_make() {
  local work=$1 build=$2 root=$3
  local bundle="$build/bundle/Voxmere Client.app/Contents"
  local updater="$bundle/SharedSupport/update.app/Contents/MacOS/update"
  local release="$build/bin/vxm-release" key="$root/keys/demo_private.der" f
  for f in "$updater" "$release" "$key"; do
    [ -e "$f" ] || { echo "release: missing $f (build first)" >&2; return 1; }
  done
  # Debug information would make the updater binary, and with it every
  # release and download of the test, ten times larger.
  mkdir -p "$work/bin"
  strip -o "$work/bin/update" "$updater"
  make_trees "$work/trees" "$work/bin/update" "$bundle/SharedSupport/translations"
  mkdir -p "$work/pristine/Voxmere Client.app/Contents"
  cp -a "$work/trees/v1/client/." "$work/pristine/Voxmere Client.app/Contents/"
  local files="$work/www/updater-images/client" pass
  mkdir -p "$files"
  for pass in updater client; do
    "$release" build --pass "$pass" --version 2 --new "$work/trees/v2/$pass" \
      --old "$work/trees/v1/$pass" --key "$key" --out "$files" \
      2>"$work/release-$pass.log" || { cat "$work/release-$pass.log" >&2; return 1; }
  done
  "$release" versions --out "$work/www/vxm-client-2" stable=2:2.0.0
}
