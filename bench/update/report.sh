# shellcheck shell=bash
# The whole-update benchmark's figures, read from what one run left: the
# subreaper's process report, the updater's two log files, the server's
# access log and the floor's timings. Source this file; report_all prints
# the tables (see bench/update.sh for the variables it reads).

# server_files PATHS WWW PRISTINE TREES: one line per complete transfer,
#   kind server_file old_file new_file
# kind: patch, container or plain; old_file is the installed version-1 file
# a patch applies to ("-" otherwise), new_file the version-2 file it makes
# ("-" for the product inis and signatures).
server_files() {
  awk -v www="$2" -v old="$3" -v new="$4" '
    {
      file = www $0
      rest = $0; sub(/^\/updater-images\/client\/[0-9]+\//, "", rest)
      kind = rest ~ /_patch_$/ ? "patch" : rest ~ /\._lzma2_$/ ? "container" : "plain"
      section = rest; sub(/\/.*/, "", section)
      target = rest; sub(/^[^\/]*\//, "", target)
      sub(/(\.[0-9]+_patch_|\._lzma2_|\._raw_)$/, "", target)
      if (section == "client") { o = old "/" target; n = new "/client/" target }
      else if (section == "common_client") { o = old "/SharedSupport/" target; n = new "/client/SharedSupport/" target }
      else if (section == "update") { o = old "/" target; n = new "/updater/" target }
      else { o = "-"; n = "-" }
      printf "%s\t%s\t%s\t%s\n", kind, file, kind == "patch" ? o : "-", n
    }' "$1"
}

# floor_engine_script PATHS MATERIAL VXDELTA OUT: the shell script that
# applies every downloaded patch and unpacks every downloaded container with
# the engine's command-line tool, back to back, into OUT.
floor_engine_script() {
  local paths=$1 material=$2 vxdelta=$3 out=$4 n=0 kind file old _
  echo "set -e"
  echo "mkdir -p '$out'"
  while IFS=$'\t' read -r kind file old _; do
    n=$((n + 1))
    case $kind in
      patch) echo "'$vxdelta' apply '$old' '$file' '$out/$n' >/dev/null" ;;
      container) echo "'$vxdelta' decompress '$file' '$out/$n'" ;;
    esac
  done < <(server_files "$paths" "$material/www" \
             "$material/pristine/Voxmere Client.app/Contents" "$material/trees/v2")
}

# log_steps LOG START_EPOCH END_EPOCH: "step seconds" for one pass, from the
# lines the updater writes when each step begins. START/END are the
# process's own start and end (kernel accounting).
log_steps() {
  awk -F '\t' -v start="$2" -v end="$3" '
    function epoch(stamp,  d, t) {
      split(substr(stamp, 1, 10), d, "-"); split(substr(stamp, 12), t, ":")
      return mktime(d[1] " " d[2] " " d[3] " " t[1] " " t[2] " " t[3]) + t[4] / 1000
    }
    function mark(step) { if (!(step in at)) { at[step] = epoch($1); order[++n] = step } }
    NR == 1 { mark("init") }
    /\tStarting update$/ { mark("ini") }
    /Details: "Compiling download and replace list/ { mark("list") }
    /Details: "(Downloading files|No downloads needed)"/ { mark("download") }
    /Details: "Starting file updates"|\tExtracting updater file / { mark("install") }
    /Details: "Starting deleting files"/ { mark("delete") }
    /\tcleanup$/ { mark("cleanup") }
    /\tonUpdateFinished$/ { mark("wait") }
    /\t(onStartNewUpdater|startVxmClient)$/ { mark("exit") }
    END {
      printf "startup %.3f %.3f\n", at["init"] - start, start
      for (i = 1; i <= n; i++)
        printf "%s %.3f %.3f\n", order[i], (i < n ? at[order[i + 1]] : end) - at[order[i]], at[order[i]]
    }' "$1"
}

# step_peaks STEPS SAMPLES FIRST_PID: "step peak_kib cpu_s" for the second
# pass: the largest resident size sampled while each step ran and the CPU
# time between the last samples before its start and its end ("-" if none).
step_peaks() {
  awk -v first="$3" '
    FNR == NR { step[++n] = $1; from[n] = $3; next }
    $2 != first { for (i = n; i > 1 && $1 < from[i]; i--) { }
                  if ($3 > peak[i]) peak[i] = $3
                  cpu[i] = $4; if (!(i in first_cpu)) first_cpu[i] = last }
    $2 != first { last = $4 }
    END {
      for (i = 1; i <= n; i++) {
        if (i in peak) print step[i], peak[i], sprintf("%.2f", cpu[i] - first_cpu[i])
        else print step[i], "-", "-"
      }
    }' "$1" "$2"
}

# Seconds between two epoch times, to the millisecond.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }'; }

# The goals and whether this run met them: "met" or "MISSED".
verdict() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b ? "met" : "MISSED") }'; }

# Reads WORK, MATERIAL, FLOOR, LOGS, UPDATE_T0, UPDATE_T1 and FLOOR_BYTES.
# shellcheck disable=SC2153
report_all() {
  local p1 pass1_pid pass1_end pass2_start pass2_end
  # The first pass is the process the subreaper started; every other
  # process belongs to the second pass (its starter shell, which waits for
  # the new updater and so accounts for it, and the client it starts).
  p1=$(sort -k4,4n "$WORK/processes.txt" | head -n 1)
  read -r pass1_pid _ _ PASS1_START pass1_end P1_USER P1_SYS P1_RSS <<<"$p1"
  read -r pass2_start pass2_end P2_USER P2_SYS P2_RSS < <(
    sort -k4,4n "$WORK/processes.txt" | tail -n +2 |
      awk 'NR == 1 || $4 < s { s = $4 } $5 > e { e = $5 } { u += $6; y += $7; if ($8 > m) m = $8 }
           END { print s, e, u, y, m }')

  log_steps "${LOGS[0]}" "$PASS1_START" "$pass1_end" >"$WORK/steps1.txt"
  log_steps "${LOGS[1]}" "$pass2_start" "$pass2_end" >"$WORK/steps2.txt"

  # Bytes per pass: the second begins with the client's product ini.
  read -r B1 N1 B2 N2 PATCHES < <(awk '
    $7 ~ /vxm_client_macosx\.ini/ { second = 1 }
    $9 == 200 { if (second) { b2 += $10; n2++ } else { b1 += $10; n1++ }
                if ($7 ~ /_patch_$/) p++ }
    END { print b1 + 0, n1 + 0, b2 + 0, n2 + 0, p + 0 }' "$WORK/access.log")

  local largest_written largest_installed
  largest_written=$(server_files "$FLOOR/paths.txt" "$MATERIAL/www" "-" "$MATERIAL/trees/v2" |
    while IFS=$'\t' read -r _ file _ new; do
      stat -c %s "$file"
      [ "$new" = - ] || stat -c %s "$new"
    done | sort -n | tail -n 1)
  largest_installed=$(xargs -0 stat -c %s <"$FLOOR/installed.list" | sort -n | tail -n 1)
  local files bytes
  files=$(tr -cd '\0' <"$FLOOR/installed.list" | wc -c)
  bytes=$(xargs -0 stat -c %s <"$FLOOR/installed.list" | awk '{ s += $1 } END { print s }')

  local ours_wall ours_cpu peak floor_wall floor_cpu list_s sha_s delays
  ours_wall=$(elapsed "$UPDATE_T0" "$UPDATE_T1")
  ours_cpu=$(awk -v a="$P1_USER" -v b="$P1_SYS" -v c="$P2_USER" -v d="$P2_SYS" 'BEGIN { print a + b + c + d }')
  peak=$((P1_RSS > P2_RSS ? P1_RSS : P2_RSS))
  read -r floor_wall floor_cpu < <(cat "$FLOOR"/curl.time "$FLOOR"/sha512sum.time "$FLOOR"/engine.time |
    awk '{ w += $1; c += $2 + $3 } END { print w, c }')
  list_s=$(awk '$1 == "list" { print $2 }' "$WORK/steps2.txt")
  sha_s=$(cut -d' ' -f1 "$FLOOR/sha512sum.time")
  # The waits the updater makes by design: the second pass's 2000 ms start
  # tick and the 1000 ms before each pass starts its successor.
  delays=4.0

  printf '\nwhole update, %d files, %d bytes installed (largest %d); %d + %d transfers, %d patches\n' \
    "$files" "$bytes" "$largest_installed" "$N1" "$N2" "$PATCHES"
  step_peaks "$WORK/steps2.txt" "$WORK/rss.txt" "$pass1_pid" >"$WORK/peaks2.txt"
  printf '\n%-10s %10s %10s %14s %16s %12s\n' step "pass 1 s" "pass 2 s" "pass 2 µs/file" "pass 2 peak KiB" "pass 2 CPU s"
  awk -v files="$files" '
    FILENAME ~ /steps1/ { one[$1] = $2; next }
    FILENAME ~ /peaks2/ { peak[$1] = $2; cpu[$1] = $3; next }
    { two[$1] = $2; order[++n] = $1 }
    END {
      for (i = 1; i <= n; i++) {
        s = order[i]
        printf "%-10s %10s %10.3f %14.0f %16s %12s\n", s, (s in one) ? sprintf("%.3f", one[s]) : "-", two[s], two[s] * 1e6 / files, peak[s], cpu[s]
      }
    }' "$WORK/steps1.txt" "$WORK/peaks2.txt" "$WORK/steps2.txt"
  printf '%-10s %10.3f %10.3f\n' "process" "$(elapsed "$PASS1_START" "$pass1_end")" \
    "$(elapsed "$pass2_start" "$pass2_end")"

  printf '\n%-34s %14s %14s %7s\n' "" ours floor ratio
  printf '%-34s %14s %14s %7s\n' "wall s (both passes)" "$ours_wall" "$floor_wall" "$(ratio "$ours_wall" "$floor_wall")"
  local net
  net=$(awk -v a="$ours_wall" -v d="$delays" 'BEGIN { printf "%.3f", a - d }')
  printf '%-34s %14s %14s %7s\n' "wall s without the $delays s waits" "$net" "$floor_wall" "$(ratio "$net" "$floor_wall")"
  printf '%-34s %14s %14s %7s\n' "CPU s (user+sys)" "$ours_cpu" "$floor_cpu" "$(ratio "$ours_cpu" "$floor_cpu")"
  printf '%-34s %14s %14s %7s\n' "list step s / sha512sum of all" "$list_s" "$sha_s" "$(ratio "$list_s" "$sha_s")"
  local list_cpu sha_cpu
  list_cpu=$(awk '$1 == "list" { print $3 }' "$WORK/peaks2.txt")
  sha_cpu=$(awk '{ print $2 + $3 }' "$FLOOR/sha512sum.time")
  printf '%-34s %14s %14s %7s\n' "list step CPU s / sha512sum's" "$list_cpu" "$sha_cpu" "$(ratio "$list_cpu" "$sha_cpu")"
  printf '%-34s %14s %14s %7s\n' "bytes downloaded" "$((B1 + B2))" "$FLOOR_BYTES" "$(ratio $((B1 + B2)) "$FLOOR_BYTES")"
  printf '%-34s %14s\n' "peak RSS KiB (pass 1 / pass 2)" "$P1_RSS / $P2_RSS"
  printf '\nfloor parts, fastest of FLOOR_RUNS (wall user sys maxrss_kib): curl %s; sha512sum %s; vxdelta %s\n' \
    "$(cat "$FLOOR/curl.time")" "$(cat "$FLOOR/sha512sum.time")" "$(cat "$FLOOR/engine.time")"
  printf 'CPU per pass (user sys): pass 1 %s %s, pass 2 %s %s\n' "$P1_USER" "$P1_SYS" "$P2_USER" "$P2_SYS"

  local memory_goal
  memory_goal=$(((2 * largest_written + 50 * 1024 * 1024) / 1024))
  printf '\ngoals:\n'
  printf '  total wall <= 1.3x floor:               %s (%s)\n' "$(verdict "$(ratio "$ours_wall" "$floor_wall")" 1.3)" "$(ratio "$ours_wall" "$floor_wall")"
  printf '  list step <= 1.15x sha512sum:           %s (%s by wall time; %s by CPU time)\n' "$(verdict "$(ratio "$list_s" "$sha_s")" 1.15)" "$(ratio "$list_s" "$sha_s")" "$(ratio "$list_cpu" "$sha_cpu")"
  printf '  peak <= 2x largest file + 50 MB:        %s (%d KiB against %d KiB; largest file the update reads or writes %d B)\n' \
    "$(verdict "$peak" "$memory_goal")" "$peak" "$memory_goal" "$largest_written"
  printf '  no step worse than linear:              compare the µs/file column across FILES (500, 5000, 20000)\n'
  printf 'RESULT files=%d bytes=%d wall=%s floor=%s cpu=%s floor_cpu=%s list=%s sha512sum=%s list_cpu=%s sha512sum_cpu=%s peak_kib=%d %s\n' \
    "$files" "$bytes" "$ours_wall" "$floor_wall" "$ours_cpu" "$floor_cpu" "$list_s" "$sha_s" "$list_cpu" "$sha_cpu" "$peak" \
    "$(awk '{ printf "%s=%s ", $1, $2 }' "$WORK/steps2.txt")"
}
