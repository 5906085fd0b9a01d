#!/usr/bin/env bash
# Every panel model's face, to look at by eye:
#  - OUT_DIR/face_<model>.png with the legends, colours and display texts of
#    tools/facesnap/sample-records.txt;
#  - OUT_DIR/live_<model>.png as a running panel shows it: each model runs
#    with its default configuration in panelrun against the router simulator
#    until it is online, and facesnap replays what its button driver received
#    (kept as OUT_DIR/rec_<model>.txt).
#
#   tools/facesnap/snap-models.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, faces)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
out=${2:-faces}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'kill "$router" 2>/dev/null || true; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# A router of its own on a loopback address no other tool of the project uses.
router_ip=127.0.0.193
panel_ip=127.0.0.194
"$build/tools/routersim/routersim" --bind $router_ip:2001 --panel-range $panel_ip:2001-2012 \
    --poll-ms 300 --quiet >/dev/null 2>&1 &
router=$!

port=2001
for m in SK1100A SK1200A SK1300A SK1400A SK1500A SK1600A SK1700A SK1800A \
         SK1900A SK2000A SK2100A SK2200A; do
    mkdir -p "$work/$m"
    (cd "$work/$m" && "$build/tools/panelrun/panelrun" --type $m --ip $panel_ip --port $port \
        --config "$root/resources/config/cfg$m" --workdir "$work/$m" --run-ms 4000 \
        2>"$out/rec_$m.txt" >/dev/null) || true
    grep -q '^state 0 ST_ONLINE' "$out/rec_$m.txt" || echo "snap-models: $m did not come online" >&2
    "$build/tools/facesnap/facesnap" --model $m --records "$out/rec_$m.txt" "$out/live_$m.png" \
        >/dev/null 2>&1 || echo "snap-models: no live face of $m" >&2
    "$build/tools/facesnap/facesnap" --model $m --records "$root/tools/facesnap/sample-records.txt" \
        "$out/face_$m.png" >/dev/null 2>&1 || echo "snap-models: no face of $m" >&2
    echo "$out/face_$m.png $out/live_$m.png"
    port=$((port + 1))
done
