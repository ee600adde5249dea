#!/usr/bin/env bash
# Kelvara on a simulated bus: kvserver with four sensor slots (one empty),
# kvquery for readings and means, kvpage's plain-text line, and the HTML page
# served by lighttpd. Everything started here is stopped on Enter, Ctrl-C,
# or any failure.
# Usage: scripts/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(pwd)/${1:-build}/bin"
bus="sim:21.5,19,-,23.5"

for program in kvserver kvquery kvpage; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; run make first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvara-demo-XXXXXX")
export TMPDIR="$work"   # the simulated port's lock lives here, shared by all three programs
export KELVARA_COM3="$bus"
pids=()

stop_all() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  pids=()
  rm -rf "$work"
}
trap stop_all EXIT
trap 'echo; exit 130' INT TERM

# Runs the function named in $1 in the background with a port number, its
# output in $2; a program that cannot bind its port exits at once, and another
# port is tried. Sets started_port.
started_port=
start_on_free_port() {
  local build=$1 log=$2 port attempt
  for attempt in $(seq 1 20); do
    port=$(( 20000 + (RANDOM % 20000) ))
    $build "$port" >"$log" 2>&1 &
    local pid=$!
    sleep 0.5
    if kill -0 "$pid" 2>/dev/null; then
      pids+=("$pid")
      started_port=$port
      return 0
    fi
    wait "$pid" 2>/dev/null || true
  done
  echo "demo: no free port found" >&2
  return 1
}

run_server() { exec "$bin/kvserver" -port "$1" -com 3; }

run_lighttpd() {
  sed -e "s|@PORT@|$1|" -e "s|@BIND_ADDRESS@|127.0.0.1|" -e "s|@DOCUMENT_ROOT@|$bin|" \
      -e "s|@STATE_DIR@|$work|" -e "s|@THERM_PORT@|3|" -e "s|@KELVARA_COM1@||" \
      -e "s|@KELVARA_COM2@||" -e "s|@KELVARA_COM3@|$bus|" -e "s|@KELVARA_COM4@||" \
      -e "s|@TMPDIR@|$work|" cgi/lighttpd.conf >"$work/lighttpd-$1.conf"
  exec "$lighttpd" -D -f "$work/lighttpd-$1.conf"
}

show() {
  echo
  echo "\$ $*"
  "$@"
}

echo "Kelvara demo: a simulated bus $bus on COM3"
echo "(sensors 1, 2 and 4 present, sensor 3 missing)"

start_on_free_port run_server "$work/kvserver.log"
port=$started_port
echo
echo "kvserver is serving UDP port $port:"
sed 's/^/    /' "$work/kvserver.log"

show "$bin/kvquery" -port "$port" -what 1-4
show "$bin/kvquery" -port "$port" -what 1-4 -far
show "$bin/kvquery" -port "$port" -what 1-2 -mean
show "$bin/kvquery" -port "$port" -what 1-4 -mean

echo
echo "\$ REQUEST_METHOD=GET QUERY_STRING='what=1-4' kvpage"
REQUEST_METHOD=GET QUERY_STRING='what=1-4' "$bin/kvpage"

lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
if [ -x "$lighttpd" ]; then
  start_on_free_port run_lighttpd "$work/lighttpd.log"
  web=$started_port
  echo
  echo "The page: http://127.0.0.1:$web/kvpage?format=html&what=1-4&reload=10000"
  echo "     (plain: http://127.0.0.1:$web/kvpage?what=1-4&unit=far)"
else
  echo
  echo "lighttpd is not installed: no web page (apt-get install lighttpd)."
fi

echo
if [ -t 0 ]; then
  read -r -p "Press Enter (or Ctrl-C) to stop the demo. " _ || true
else
  echo "(standard input is not a terminal: stopping now)"
fi
echo "Stopping kvserver and lighttpd."
