#!/bin/bash
# Download throughput: the updater's download step (vxm_bench_downloads, 6
# streams, SHA-512 check of every file included), and its transfers alone,
# against
# `curl --parallel --parallel-max 6`, both fetching the same 200 files
# (400 MiB) from a local nginx on 127.0.0.1.
#
# Usage: run_bench.sh BUILD_DIR [FILES] [FILE_MIB] [ROUNDS]
# Prints one line per run and the median wall times with their ratio, and the
# median CPU times (user + sys of the client process; nginx not included),
# the steadier figure on a shared machine.
set -euo pipefail

build=${1:?usage: run_bench.sh BUILD_DIR [FILES] [FILE_MIB] [ROUNDS]}
files=${2:-200}
mib=${3:-2}
rounds=${4:-3}
driver="$build/bench/downloads/vxm_bench_downloads"
nginx=/usr/sbin/nginx
port=${VXM_BENCH_PORT:-18771}
version=7
section=bench

[ -x "$driver" ] || { echo "missing $driver (build target vxm_bench_downloads)" >&2; exit 2; }
[ -x "$nginx" ] || { echo "missing $nginx" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vxm-dlbench.XXXXXX")
nginx_pid=
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

root="$work/root"
src="$root/$version/$section"
mkdir -p "$src" "$work/nginx"
echo "making $files files of $mib MiB ..."
for i in $(seq -f %03g 1 "$files"); do
    head -c $((mib * 1024 * 1024)) /dev/urandom > "$src/f$i.bin"
done
chmod -R a+rX "$root"
manifest="$work/manifest.txt"
(cd "$src" && sha512sum f*.bin) | while read -r hash name; do
    echo "$section $name $((mib * 1024 * 1024)) $hash"
done > "$manifest"
curlcfg="$work/curl.cfg"
while read -r _ name _ _; do
    printf 'url = "http://127.0.0.1:%s/%s/%s/%s"\noutput = "%s/out/%s"\n' \
        "$port" "$version" "$section" "$name" "$work" "$name"
done < "$manifest" > "$curlcfg"

cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $root;
    }
}
CONF
"$nginx" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
done

fresh_out() { rm -rf "$work/out"; mkdir -p "$work/out"; sync; }
# "WALL CPU" of one command, process start and exit included; CPU is the
# user + system time of the command and its threads.
time_of() {
    local times="$work/times"
    /usr/bin/time -o "$times" -f "%e %U %S" "$@" >&2
    awk '{printf "%s %.2f\n", $1, $2 + $3}' "$times"
}
updater=("$driver" "http://127.0.0.1:$port/" "$version" "$manifest" "$work/out" 6)
peer=(curl --parallel --parallel-max 6 --no-progress-meter -f -K "$curlcfg")
ours=()
transfers=()
theirs=()
for r in $(seq "$rounds"); do
    fresh_out
    ours+=("$(time_of "${updater[@]}")")
    cmp -s "$src/f001.bin" "$work/out/f001.bin" || { echo "updater output differs" >&2; exit 1; }
    fresh_out
    transfers+=("$(time_of "${updater[@]}" transfer-only)")
    fresh_out
    theirs+=("$(time_of "${peer[@]}")")
    echo "round $r (wall s, cpu s): updater ${ours[-1]}, transfers only ${transfers[-1]}, curl ${theirs[-1]}"
done
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
column_median() { printf '%s\n' "${@:2}" | awk -v c="$1" '{print $c}' | median; }
ratio() { echo "scale=3; $1 / $2" | bc; }
for c in 1 2; do
    label=$([ "$c" = 1 ] && echo "wall" || echo "cpu")
    mu=$(column_median "$c" "${ours[@]}")
    mt=$(column_median "$c" "${transfers[@]}")
    mc=$(column_median "$c" "${theirs[@]}")
    echo "median $label time: updater $mu s (ratio $(ratio "$mu" "$mc")), transfers only $mt s (ratio $(ratio "$mt" "$mc")), curl $mc s"
done
