#!/usr/bin/env bash
# Runs the updater against the sample update site: nginx serves samples/site on a free loopback
# port, a temporary copy of samples/install gets the built renewel and a renewel.lng pointing at
# that server, and `renewel quiet` updates it. Prints the installation's files before and after.
# With a display present the interactive window opens instead of the quiet run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/release}"
program="$build/renewel/renewel"
[ -x "$program" ] || { echo "demo-renewel: $program is not built" >&2; exit 1; }

# The sample site is signed with the demo key: check the signature before the updater runs.
minisign -V -q -p "$root/samples/keys/demo.pub" -m "$root/samples/site/update.sums" ||
  { echo "demo-renewel: samples/site/update.sums does not verify with samples/keys/demo.pub" >&2; exit 1; }
echo "renewel demo: samples/site/update.sums verified with the demo key samples/keys/demo.pub"

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')"
mkdir -p "$work/nginx/logs" "$work/nginx/temp"
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log $work/nginx/logs/access.log;
  client_body_temp_path $work/nginx/temp/body;
  proxy_temp_path $work/nginx/temp/proxy;
  fastcgi_temp_path $work/nginx/temp/fastcgi;
  uwsgi_temp_path $work/nginx/temp/uwsgi;
  scgi_temp_path $work/nginx/temp/scgi;
  types { text/html html; text/plain txt; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $root/samples/site;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -fs -o /dev/null "http://127.0.0.1:$port/update.txt" && break
  sleep 0.1
done

install="$work/install"
cp -r "$root/samples/install" "$install"
cp "$program" "$install/renewel"
sed -e "s|^#UpdateSite .*|#UpdateSite http://127.0.0.1:$port/|" \
    -e "s|^#UpdateIndex .*|#UpdateIndex http://127.0.0.1:$port/index.html|" \
    "$root/samples/renewel.lng" > "$install/renewel.lng"

list() { (cd "$install" && find . -type f ! -name renewel ! -name renewel.lng -printf '%P %s\n' | sort); }
list > "$work/before.txt"
echo "renewel demo: update site http://127.0.0.1:$port/, installation $install"

cd "$install"
status=0
if [ -n "${DISPLAY:-}" ]; then
  echo "renewel demo: opening the update window (press Update, or close it)"
  # The browser engine refuses to run as root with its sandbox on; this demo may run as root.
  if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  ./renewel || status=$?
else
  # The browser engine's start-up chatter goes to a log, shown only when the run fails.
  QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 timeout 60 ./renewel quiet \
    2> "$work/renewel.log" || status=$?
  [ "$status" -eq 0 ] || tail -n 20 "$work/renewel.log" >&2
fi
list > "$work/after.txt"

echo "renewel demo: exit status $status; files (size before -> after):"
join -a1 -a2 -e '-' -o 0,1.2,2.2 "$work/before.txt" "$work/after.txt" |
  awk '{ mark = ($2 == $3) ? "  unchanged" : "  UPDATED"; printf "  %-28s %8s -> %-8s%s\n", $1, $2, $3, mark }'
if [ -d "$install/temp" ]; then echo "renewel demo: download folder left behind: $(ls "$install/temp")"; fi
exit "$status"
