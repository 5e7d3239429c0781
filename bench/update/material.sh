# shellcheck shell=bash
# The whole-update benchmark's material: the demo's trees (trees.sh) grown to
# an installation of a given number of files and bytes, and the version-2
# release of both passes made from them by release.sh's release_make.
# Source this file after trees.sh and release.sh; it defines bulk_add and
# material_make.
#
# What is added to the client tree of both versions, for FILES files in all
# (the demo's own files included) and about TOTAL_MB megabytes:
#   Frameworks/bench/eNN/  copies of large system ELF libraries, one per 500
#                          files (at least 2); two in five are edited in
#                          version 2 (spans overwritten inside the image,
#                          headers intact: the release patches them)
#   Resources/bench/dNNN/  per 50 files: 35 small text resources (1 to 16
#                          KiB), 14 medium ones (16 to 400 KiB: one in seven
#                          text, one in seven random bytes, the rest tiled
#                          binary data) and 1 media file (tiled binary data,
#                          one in ten random bytes) sized so that the total
#                          reaches TOTAL_MB
# Most bytes are tiled binary data (gen_files.c, kind p) because the release
# tool compresses every file with LZMA2 preset 9: about 9 MB/s of CPU for
# those, against 1 to 2 MB/s for text and random bytes, which would make a
# 1 GB release take most of an hour on a loaded 2-core machine.
# Version 2 changes 8 % of the resources (one in eight of those rewritten
# whole, the rest edited in place), deletes 1 % and adds 1 % new ones.

# The large ELF files copied as the installation's libraries; those missing
# on this machine are skipped.
BULK_ELF_CANDIDATES=(
  /usr/lib/x86_64-linux-gnu/libQt5Core.so.5
  /usr/lib/x86_64-linux-gnu/libcrypto.so.3
  /usr/lib/x86_64-linux-gnu/libQt5Gui.so.5
  /usr/lib/x86_64-linux-gnu/libQt5Widgets.so.5
  /usr/lib/x86_64-linux-gnu/libQt5Network.so.5
  /usr/lib/x86_64-linux-gnu/libprotobuf.so.32
  /usr/lib/x86_64-linux-gnu/libQt5DBus.so.5
  /usr/lib/x86_64-linux-gnu/libQt5Test.so.5
  /usr/lib/x86_64-linux-gnu/libQt5XcbQpa.so.5
  /usr/lib/x86_64-linux-gnu/libssl.so.3
)

# bulk_elf_commands TREES COUNT: copies COUNT system ELF files into both
# versions (cycling through the candidates) and prints the generator
# commands that edit two in five of them for version 2. Prints the bytes of
# version 1's copies on fd 3.
bulk_elf_commands() {
  local trees=$1 count=$2 elfs=() f e bytes=0
  for f in "${BULK_ELF_CANDIDATES[@]}"; do
    [ -f "$f" ] && elfs+=("$(readlink -f "$f")")
  done
  [ ${#elfs[@]} -gt 0 ] || { echo "bench: none of the ELF libraries is installed" >&2; return 1; }
  for ((e = 0; e < count; e++)); do
    f=${elfs[e % ${#elfs[@]}]}
    local rel
    rel=Frameworks/bench/e$(printf '%02d' "$e")/$(basename "$f")
    mkdir -p "$trees/v1/client/$(dirname "$rel")"
    cp "$f" "$trees/v1/client/$rel"
    bytes=$((bytes + $(stat -c %s "$f")))
    case $((e % 5)) in
      0 | 2) echo "edit elf$e 32 v1/client/$rel v2/client/$rel" ;;
      *) echo "link v1/client/$rel v2/client/$rel" ;;
    esac
  done
  echo "$bytes" >&3
}

# bulk_resource_commands COUNT BUDGET_BYTES: the generator commands of the
# resources of both versions.
bulk_resource_commands() {
  awk -v n="$1" -v budget="$2" '
    # Media sizes spread from half to one and a half times the unit.
    function factor(i) { return 0.5 + (int(i / 50) * 37 % 100) / 100 }
    function small(i) { return 1024 + (i * 7919) % 15360 }
    function medium(i) { return 16384 + (i * 104729) % 393216 }
    function path(v, i, ext) { return sprintf("v%d/client/Resources/bench/d%03d/f%06d.%s", v, int(i / 100), i, ext) }
    BEGIN {
      fixed = 0; media = 0
      for (i = 0; i < n; i++) {
        c = i % 50
        if (c == 0) media += factor(i)
        else fixed += (c <= 14) ? medium(i) : small(i)
      }
      unit = media > 0 ? (budget - fixed) / media : 0
      if (unit < 262144) unit = 262144
      for (i = 0; i < n; i++) {
        c = i % 50
        if (c == 0) { kind = int(i / 50) % 10 == 3 ? "r" : "p"; size = int(unit * factor(i)) }
        else if (c <= 14) { kind = i % 7 == 0 ? "r" : i % 7 == 1 ? "t" : "p"; size = medium(i) }
        else { kind = "t"; size = small(i) }
        ext = kind == "t" ? "txt" : kind == "r" ? "bin" : "pak"
        printf "new %s r%d %d %s\n", kind, i, size, path(1, i, ext)
        h = (i * 2654435761) % 100
        if (h < 8 && h == 0) printf "new %s r%d.v2 %d %s\n", kind, i, size, path(2, i, ext)
        else if (h < 8) printf "edit e%d 4 %s %s\n", i, path(1, i, ext), path(2, i, ext)
        else if (h != 8) printf "link %s %s\n", path(1, i, ext), path(2, i, ext)
      }
      for (i = n; i < n + int(n / 100); i++)
        printf "new t a%d %d %s\n", i, (i % 3) ? small(i) : medium(i), path(2, i, "txt")
    }'
}

# bulk_add TREES FILES TOTAL_MB GENERATOR: grows TREES/v1/client and
# TREES/v2/client (made by make_trees) as described above.
bulk_add() {
  local trees=$1 files=$2 total_mb=$3 generator=$4
  local have have_bytes elf_count resources elf_bytes commands=$trees/bulk-commands.txt
  have=$(find "$trees/v1/client" -type f | wc -l)
  have_bytes=$(du -sb "$trees/v1/client" | cut -f1)
  elf_count=$((files / 500 < 2 ? 2 : files / 500))
  resources=$((files - have - elf_count))
  [ "$resources" -gt 0 ] || { echo "bench: $files files is fewer than the demo has" >&2; return 1; }
  bulk_elf_commands "$trees" "$elf_count" >"$commands" 3>"$trees/elf-bytes.txt"
  elf_bytes=$(cat "$trees/elf-bytes.txt")
  bulk_resource_commands "$resources" \
    $((total_mb * 1000000 - elf_bytes - have_bytes)) >>"$commands"
  (cd "$trees" && "$generator" <"$commands")
}

# material_make DIR BUILD ROOT FILES TOTAL_MB GENERATOR: DIR/trees,
# DIR/pristine (the version-1 installation) and DIR/www (the release), via
# release_make with make_trees extended by bulk_add.
material_make() {
  local dir=$1 build=$2 root=$3
  BULK_FILES=$4 BULK_TOTAL_MB=$5 BULK_GENERATOR=$6
  # release_make calls make_trees; the demo's trees are made as they are,
  # then grown. The original stays callable under another name.
  if ! declare -F demo_make_trees >/dev/null; then
    eval "$(declare -f make_trees | sed '1s/^make_trees/demo_make_trees/')"
    # shellcheck disable=SC2317  # called by release_make
    make_trees() {
      demo_make_trees "$@" && bulk_add "$1" "$BULK_FILES" "$BULK_TOTAL_MB" "$BULK_GENERATOR"
    }
  fi
  release_make "$dir" "$build" "$root"
}
