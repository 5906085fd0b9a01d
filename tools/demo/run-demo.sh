#!/usr/bin/env bash
# Keystead on the demonstration panel set, with the router simulator playing
# the router controller:
#
#   tools/demo/run-demo.sh [BUILD_DIR] [keystead options...]
#
# BUILD_DIR (default build) holds the built programs; $KEYSTEAD names
# another Keystead program to run (default BUILD_DIR/keystead/keystead). The demonstration base
# directory is $DEMO_DIR, default BUILD_DIR/demo; on the first run it gets
# cfg.xml (one rack: an SK2000A on 127.0.0.1 port 2011 and an SK1400A on
# port 2012, both started at launch) and each panel's configuration, packed
# from resources/demo/. Later runs keep what was changed there.
#
# routersim binds 127.0.0.1:2001 (the port panels answer the router on),
# polls both panels, and logs every datagram to $DEMO_DIR/routersim.log;
# Keystead logs to $DEMO_DIR/log.txt. routersim stops when Keystead exits,
# whichever way it exits.
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
[ $# -gt 0 ] && shift
build=$(cd "$build" && pwd)
demo=${DEMO_DIR:-$build/demo}

keystead=${KEYSTEAD:-$build/keystead/keystead}
routersim=$build/tools/routersim/routersim
pcslpack=$build/tools/pcslpack/pcslpack
for p in "$keystead" "$routersim" "$pcslpack"; do
  [ -x "$p" ] || { echo "run-demo: $p is missing; build first (make build)" >&2; exit 2; }
done

if [ ! -f "$demo/cfg.xml" ]; then
  echo "run-demo: creating the demonstration panel set in $demo"
  mkdir -p "$demo/data/p1" "$demo/data/p2"
  "$pcslpack" pack "$src/resources/demo/cfgSK2000A.pcsl" "$demo/data/p1/cfgSK2000A" >/dev/null
  "$pcslpack" pack "$src/resources/demo/cfgSK1400A.pcsl" "$demo/data/p2/cfgSK1400A" >/dev/null
  cp "$src/resources/demo/cfg.xml" "$demo/cfg.xml.new"
  mv "$demo/cfg.xml.new" "$demo/cfg.xml"
fi

# The router: 2 levels, 24 sources, 8 destinations, as the panels know them.
"$routersim" --bind 127.0.0.1:2001 --panel 127.0.0.1:2011 --panel 127.0.0.1:2012 \
  --levels 2 --sources 24 --dests 8 </dev/null >"$demo/routersim.log" 2>&1 &
router=$!
stop_router() {
  kill "$router" 2>/dev/null || true
  wait "$router" 2>/dev/null || true
}
trap stop_router EXIT
# Ctrl-C and termination reach Keystead, which closes in order; this script
# waits for it and then stops the router.
trap '' INT
trap 'kill -TERM "$ks" 2>/dev/null || true' TERM HUP

sleep 0.3
if ! kill -0 "$router" 2>/dev/null; then
  echo "run-demo: routersim did not start:" >&2
  cat "$demo/routersim.log" >&2
  exit 1
fi
echo "run-demo: routersim on 127.0.0.1:2001 (log: $demo/routersim.log)"
echo "run-demo: keystead --basedir $demo $* (log: $demo/log.txt)"

cd "$demo"
"$keystead" --basedir "$demo" "$@" &
ks=$!
# wait returns early when a trapped signal arrives: go on waiting until
# Keystead itself has ended.
while :; do
  status=0
  wait "$ks" || status=$?
  kill -0 "$ks" 2>/dev/null || break
done
exit "$status"
