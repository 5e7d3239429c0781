# shellcheck shell=bash
# Starts and stops a private nginx on 127.0.0.1 serving one directory.
# Source this file; it defines nginx_start and nginx_stop. Nothing runs as a
# system service: the configuration, logs and temp paths live in $NGINX_DIR.

# nginx_start ROOT PORT [EXTRA_LOCATION_CONFIG]
nginx_start() {
  local root=$1 port=$2 extra=${3:-}
  NGINX_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vxm-nginx.XXXXXX")
  local user_line=""
  # A root master would hand the workers to an unprivileged user who cannot
  # read the test's private directories.
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  cat >"$NGINX_DIR/nginx.conf" <<CONF
$user_line
worker_processes 2;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/error.log warn;
events { worker_connections 256; }
http {
  access_log $NGINX_DIR/access.log;
  client_body_temp_path $NGINX_DIR/body;
  proxy_temp_path $NGINX_DIR/proxy;
  fastcgi_temp_path $NGINX_DIR/fastcgi;
  uwsgi_temp_path $NGINX_DIR/uwsgi;
  scgi_temp_path $NGINX_DIR/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $root;
    location = /.vxm-nginx-id { return 200 "$NGINX_DIR"; }
    $extra
  }
}
CONF
  /usr/sbin/nginx -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" -g 'daemon off;' \
    >"$NGINX_DIR/stdout.log" 2>&1 &
  NGINX_PID=$!
  local i
  # Another server on the port would answer too: only this instance's own
  # identity counts as started.
  for i in $(seq 1 100); do
    if [ "$(curl -s "http://127.0.0.1:$port/.vxm-nginx-id" 2>/dev/null)" = "$NGINX_DIR" ]; then
      return 0
    fi
    if ! kill -0 "$NGINX_PID" 2>/dev/null; then
      echo "nginx did not start:" >&2
      cat "$NGINX_DIR/stdout.log" "$NGINX_DIR/error.log" >&2 2>/dev/null
      return 1
    fi
    sleep 0.05
  done
  echo "nginx did not answer on 127.0.0.1:$port" >&2
  return 1
}

nginx_stop() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=
  fi
  [ -n "${NGINX_DIR:-}" ] && rm -rf "$NGINX_DIR"
  NGINX_DIR=
}
