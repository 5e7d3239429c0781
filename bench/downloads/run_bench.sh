#!/bin/bash
# Download throughput: the updater's download step (vxm_bench_downloads, 6
# streams, SHA-512 check of every file included), and its transfers alone,
# against
# `curl --parallel --parallel-max 6`, both fetching the same 200 files
# (400 MiB) from a local nginx on 127.0.0.1.
#
# Usage: run_bench.sh BUILD_DIR [FILES] [FILE_MIB] [ROUNDS]
# Prints one line per run and the median wall times with their ratio.
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
now() { date +%s.%N; }
# Wall time of one command, process start and exit included.
time_of() {
    local t0 t1
    t0=$(now)
    "$@" >&2
    t1=$(now)
    echo "$t1 - $t0" | bc
}
run_updater() {
    "$driver" "http://127.0.0.1:$port/" "$version" "$manifest" "$work/out" 6 "$@"
}
run_curl() {
    curl --parallel --parallel-max 6 --no-progress-meter -f -K "$curlcfg"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

ours=()
transfers=()
theirs=()
for r in $(seq "$rounds"); do
    fresh_out
    ours+=("$(time_of run_updater)")
    cmp -s "$src/f001.bin" "$work/out/f001.bin" || { echo "updater output differs" >&2; exit 1; }
    fresh_out
    transfers+=("$(time_of run_updater transfer-only)")
    fresh_out
    theirs+=("$(time_of run_curl)")
    echo "round $r: updater ${ours[-1]} s, transfers only ${transfers[-1]} s, curl ${theirs[-1]} s"
done
mu=$(printf '%s\n' "${ours[@]}" | median)
mt=$(printf '%s\n' "${transfers[@]}" | median)
mc=$(printf '%s\n' "${theirs[@]}" | median)
echo "median wall time: updater $mu s (ratio $(echo "scale=3; $mu / $mc" | bc)), transfers only $mt s (ratio $(echo "scale=3; $mt / $mc" | bc)), curl $mc s"
