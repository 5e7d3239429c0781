# Shared helpers of the engine's benchmark scripts (sourced, not run).
# Callers set WORK (a scratch directory) and REPEAT (runs per command).

# require_tools PATH... : exits with status 2 naming the first tool that is
# not an executable file.
require_tools() {
  local tool
  for tool in "$@"; do
    [ -x "$tool" ] || { echo "missing tool: ${tool:-?} (build vxdelta_tool; ./run installs the peers)" >&2; exit 2; }
  done
}

# measure CMD... -> "wall_s cpu_s peak_kib": the fastest wall time and the
# smallest user+system time of REPEAT runs, and the largest resident set.
# CPU time is the steadier figure on a machine shared with other work.
measure() {
  local wall="" cpu="" peak=0 i start end w c kib
  for ((i = 0; i < REPEAT; i++)); do
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$WORK/time.out" "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    w=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    read -r u s kib <"$WORK/time.out"
    c=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
    if [ -z "$wall" ] || awk -v x="$w" -v y="$wall" 'BEGIN { exit !(x < y) }'; then wall=$w; fi
    if [ -z "$cpu" ] || awk -v x="$c" -v y="$cpu" 'BEGIN { exit !(x < y) }'; then cpu=$c; fi
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  echo "$wall $cpu $peak"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

