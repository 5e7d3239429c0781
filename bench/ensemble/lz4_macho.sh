# shellcheck shell=bash
# Two upstream releases of a real C code base as x86-64 Mach-O executables,
# for the ensemble benchmark (sourced, not run). The code base is LZ4 (the
# library and its command-line program) in the two releases Debian's
# bookworm and trixie carry, taken as the .orig tarballs of their source
# packages. Callers set WORK.
#
# There is no macOS SDK here, so the C library headers are the build
# machine's glibc ones: clang's Darwin target predefines __nonnull and
# __nullable as nullability keywords (glibc then skips its own attribute
# macros) and __APPLE__/__MACH__ (the programs would include Mach headers),
# so those are undefined. The C library calls stay undefined symbols, as
# in the Mach-O fixtures (-undefined dynamic_lookup).

LZ4_VERSIONS=(1.9.4 1.10.0)

# fetch_lz4_sources DIR: downloads the .orig tarballs of LZ4_VERSIONS into
# DIR with apt-get source, using a private source list of bookworm and
# trixie (the machine's apt configuration is not touched).
fetch_lz4_sources() {
  local dir=$1 apt="$WORK/apt" version
  mkdir -p "$dir" "$apt/lists/partial" "$apt/cache/archives/partial"
  {
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main"
  } >"$apt/sources.list"
  local options=(-o "Dir::Etc::sourcelist=$apt/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root")
  apt-get "${options[@]}" update >/dev/null 2>&1 ||
    { echo "cannot read the Debian source lists" >&2; exit 1; }
  for version in "${LZ4_VERSIONS[@]}"; do
    local debian
    debian=$(apt-cache "${options[@]}" showsrc lz4 | awk -v v="$version" '
      /^Version:/ && index($2, v "-") == 1 { print $2; exit }')
    [ -n "$debian" ] || { echo "no Debian source of lz4 $version" >&2; exit 1; }
    (cd "$dir" && apt-get "${options[@]}" source --download-only "lz4=$debian" >/dev/null 2>&1) ||
      { echo "cannot download the source of lz4=$debian" >&2; exit 1; }
  done
}

# build_lz4_macho SOURCES VERSION OUT: builds lz4 VERSION from
# SOURCES/lz4_VERSION.orig.tar.gz (library and program, -O2) into OUT. The
# scratch path is mapped away (assertion texts name their files), so that
# every run measures the same bytes.
build_lz4_macho() {
  local sources=$1 version=$2 out=$3 tree="$WORK/lz4-src-$2" c
  mkdir -p "$tree/obj"
  tar -xzf "$sources/lz4_$version.orig.tar.gz" -C "$tree"
  local top="$tree/lz4-$version"
  for c in "$top"/lib/*.c "$top"/programs/*.c; do
    clang -target x86_64-apple-macos11 -O2 -w -U__nonnull -U__nullable -U__APPLE__ -U__MACH__ \
      -ffile-prefix-map="$tree"=. -isystem /usr/include -isystem /usr/include/x86_64-linux-gnu -I"$top/lib" \
      -c "$c" -o "$tree/obj/$(basename "${c%.c}").o"
  done
  ld64.lld-14 -arch x86_64 -platform_version macos 11.0 11.0 -e _main -undefined dynamic_lookup \
    "$tree"/obj/*.o -o "$out"
}
