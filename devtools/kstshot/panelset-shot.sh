#!/usr/bin/env bash
# Keystead opening a panel set written by a tool (no window geometry in
# cfg.xml): RACKS racks of PANELS panels each, all marked to start, on
# 127.0.0.1 ports 8001, 8002, ... against routersim, on a virtual screen.
# WAIT seconds after the start (default 40: the panels start 1.4 s after
# the launch and come online within seconds) the screen goes to OUT.png.
#
#   [WAIT=S] devtools/kstshot/panelset-shot.sh BUILD_DIR OUT.png [RACKS [PANELS [WxH]]]
#
# Defaults: 10 racks of 20 panels on a 1920x1200 screen. Needs xvfb-run;
# run it where no other program binds 127.0.0.1:8001 and up.
set -euo pipefail
build=$(cd "$1" && pwd); out=$2; racks=${3:-10}; per=${4:-20}; screen=${5:-1920x1200}
n=$((racks * per))
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
python3 - "$work/cfg.xml" "$racks" "$per" <<'PY'
import sys
path, racks, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
types = [10, 4, 11, 2]  # SK2000A, SK1400A, SK2100A, SK1200A
out = ["<?xml version = '1.0'?>", "<!DOCTYPE arch SYSTEM 'arch'>", "<arch>", " <racks>"]
uid = 0
for r in range(racks):
    out.append("  <e><name>rack %d</name><desc/><expanded>0</expanded><visible>1</visible><panel>" % (r + 1))
    for _ in range(per):
        uid += 1
        out.append("   <e><uid>%d</uid><name>panel %d</name><description/><paneltype>%d</paneltype>"
                   "<visible>1</visible><firmware_ip>127.0.0.1</firmware_ip><panelPort>%d</panelPort>"
                   "<should_autostart>1</should_autostart></e>" % (uid, uid, types[r % len(types)], 8000 + uid))
    out.append("  </panel><ui_data/></e>")
out += [" </racks>", " <puid>%d</puid>" % uid, " <ui_data/>", "</arch>"]
open(path, "w").write("\n".join(out) + "\n")
PY
"$build/tools/routersim/routersim" --bind 127.0.88.1:2001 --panel-range "127.0.0.1:8001-$((8000 + n))" \
  --quiet </dev/null >/dev/null 2>&1 &
cat >"$work/run.sh" <<SH
#!/usr/bin/env bash
cd "$work"
TMPDIR="$work" "$build/keystead/keystead" --basedir "$work" >"$work/ks.out" 2>"$work/ks.err" &
ks=\$!
sleep ${WAIT:-40}
"$build/devtools/xshot/xshot" "$out"
kill -TERM \$ks; wait \$ks
SH
chmod +x "$work/run.sh"
xvfb-run -a -s "-screen 0 ${screen}x24" "$work/run.sh"
echo "panelset-shot: $out"
