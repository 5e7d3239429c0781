# shellcheck shell=bash
# Generates the demo's version-1 and version-2 product trees, deterministic
# and small enough for a test, realistic enough to exercise every install
# route: whole files, compressed files, patches, new and deleted files, a
# client executable and a library built from C (patched as executables),
# and files under SharedSupport/.
#
# make_trees OUT UPDATER_BINARY [TRANSLATIONS_DIR]
#   OUT/vN/updater: the updater's files, relative to the client bundle's
#     Contents/ (SharedSupport/update.app/..., SharedSupport/translations/)
#   OUT/vN/client: the whole Contents/ of version N, the updater included
# Version 2's updater differs from version 1's (trailing bytes after the
# ELF image, which the loader ignores), so the self-update has work to do.

# Deterministic pseudo-random bytes: pseudo_random SEED BYTES
pseudo_random() {
  # openssl dies of SIGPIPE when head has enough; that is the normal end.
  { openssl enc -aes-128-ctr -nosalt -pass "pass:$1" -pbkdf2 </dev/zero 2>/dev/null || true; } |
    head -c "$2"
}

# A shared library whose code changes between versions the way a real
# release does: a few functions added and edited, the rest moved.
make_library() {
  local out=$1 version=$2 src
  src=$(mktemp "${TMPDIR:-/tmp}/voxcore.XXXXXX.c")
  {
    echo "#include <stdio.h>"
    echo "const char *vox_version(void) { return \"voxcore $version\"; }"
    local i
    for i in $(seq 1 120); do
      if [ "$version" = 2 ] && [ $((i % 17)) -eq 0 ]; then
        echo "int vox_extra_$i(int x) { return x * $i + 7; }"
      fi
      echo "int vox_fn_$i(int x) { int s = 0; for (int k = 0; k < x; ++k) s += k ^ $i; return s + vox_fn_helper_$i(x); }" |
        sed "s/vox_fn_helper_$i(x)/(x << $((i % 5)))/"
    done
  } >"$src"
  gcc -O1 -shared -fPIC -o "$out" "$src"
  rm -f "$src"
}

# The demo client, a real executable: it records that it was started, with
# its arguments, in $TMPDIR/vxmclient_started.log, with its version in the
# banner, so the two builds differ in a constant the way releases do.
make_client() {
  local out=$1 version=$2 src
  src=$(mktemp "${TMPDIR:-/tmp}/vxmclient.XXXXXX.c")
  cat >"$src" <<CLIENT
#include <stdio.h>
#include <stdlib.h>
static const char *banner(void) { return "vxmclient_mac $version"; }
int main(int argc, char **argv) {
    const char *tmp = getenv("TMPDIR");
    char path[4096];
    snprintf(path, sizeof path, "%s/vxmclient_started.log", tmp != NULL ? tmp : "/tmp");
    FILE *log = fopen(path, "a");
    if (log == NULL) return 1;
    fprintf(log, "%s started with:", banner());
    for (int i = 1; i < argc; ++i) fprintf(log, " %s", argv[i]);
    fprintf(log, "\n");
    return fclose(log) == 0 ? 0 : 1;
}
CLIENT
  gcc -O1 -o "$out" "$src"
  rm -f "$src"
}

make_client_tree() {
  local dir=$1 version=$2 i
  mkdir -p "$dir/MacOS" "$dir/Frameworks" "$dir/Resources" "$dir/SharedSupport/docs"
  make_client "$dir/MacOS/vxmclient_mac" "$version"
  chmod 755 "$dir/MacOS/vxmclient_mac"
  make_library "$dir/Frameworks/libvoxcore.dylib" "$version"
  for i in $(seq -w 1 40); do
    if [ "$version" = 2 ] && [ $((10#$i % 8)) -eq 0 ]; then
      printf 'Strings %s, version 2: the wording changed.\n' "$i" >"$dir/Resources/strings_$i.txt"
    else
      printf 'Strings %s.\n' "$i" >"$dir/Resources/strings_$i.txt"
    fi
  done
  pseudo_random media 2097152 >"$dir/Resources/media.bin"
  if [ "$version" = 2 ]; then
    # A small edit in the middle of a large file: the patch is tiny.
    printf 'version 2 media edit' | dd of="$dir/Resources/media.bin" bs=1 seek=1000000 conv=notrunc 2>/dev/null
    printf 'A file that only version 2 has.\n' >"$dir/Resources/new_feature.txt"
  else
    printf 'Version 1 only.\n' >"$dir/Resources/obsolete.txt"
  fi
  printf 'Shared documentation, version %s.\n' "$version" >"$dir/SharedSupport/docs/readme.txt"
}

make_updater_tree() {
  local dir=$1 binary=$2 translations=$3 version=$4
  local exe="$dir/SharedSupport/update.app/Contents/MacOS/update"
  mkdir -p "$(dirname "$exe")"
  cp "$binary" "$exe"
  [ "$version" = 1 ] || printf '\nVoxmere updater build %s\n' "$version" >>"$exe"
  chmod 755 "$exe"
  if [ -n "$translations" ] && ls "$translations"/update_*.qm >/dev/null 2>&1; then
    mkdir -p "$dir/SharedSupport/translations"
    cp "$translations"/update_*.qm "$dir/SharedSupport/translations/"
  fi
}

make_trees() {
  local out=$1 binary=$2 translations=${3:-}
  local v
  for v in 1 2; do
    make_updater_tree "$out/v$v/updater" "$binary" "$translations" "$v"
    make_client_tree "$out/v$v/client" "$v"
    cp -a "$out/v$v/updater/." "$out/v$v/client/"
  done
}
