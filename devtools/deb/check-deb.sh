#!/usr/bin/env bash
# The Debian package as a user installs it: copied alone into a new
# directory, installed from there with apt-get, then run from its installed
# place; removed again at the end (also when a check fails).
#
#   devtools/deb/check-deb.sh [BUILD_DIR]     (default build; run `make deb` first)
#
# Checks: `keystead --version` and `--help`; the installed files (program,
# firmware under lib/tessaline, desktop entry, icon, manual pages); each
# manual page rendered by `man -l` without a warning and found by `man
# NAME`; panelrun finding the
# installed firmware; keystead (offscreen) starting a panel from the
# installed firmware; the panel set service tessaline-panels@.service:
# checked with systemd-analyze verify, then its command line (ExecStart, the
# instance put in) run as its user with its open-files limit against
# routersim until its panels are online, and stopped with its KillSignal.
# These machines have no systemd running as PID 1, so the unit itself is not
# started. Needs root or sudo.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
SUDO=$([ "$(id -u)" = 0 ] || echo sudo)
debs=("$build"/tessaline_*_amd64.deb)
[ -f "${debs[0]}" ] || { echo "check-deb: no $build/tessaline_*_amd64.deb (make deb)" >&2; exit 2; }
[ ${#debs[@]} = 1 ] || { echo "check-deb: more than one package in $build: ${debs[*]}" >&2; exit 2; }

work=$(mktemp -d)
installed=0
cleanup() {
  [ "$installed" = 1 ] && DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -q tessaline >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-deb: FAIL: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' tessaline 2>/dev/null | grep -q 'install ok installed'; then
  fail "tessaline is installed already; remove it first"
fi

cp "${debs[0]}" "$work/"
cd "$work"
echo "check-deb: $(basename "${debs[0]}"): $(dpkg-deb -f ./tessaline_*.deb Depends)"
dpkg-deb -f ./tessaline_*.deb Depends | grep -q 'libqt6widgets6' || fail "no Qt 6 runtime in Depends"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q ./tessaline_*.deb >apt.log 2>&1 \
  || { cat apt.log >&2; fail "apt-get install"; }
installed=1

unit=/usr/lib/systemd/system/tessaline-panels@.service
for f in /usr/bin/keystead /usr/bin/panelrun /usr/bin/routersim /usr/bin/pcslpack \
         /usr/lib/tessaline/firm. /usr/share/applications/keystead.desktop \
         /usr/share/icons/hicolor/256x256/apps/keystead.png "$unit"; do
  [ -e "$f" ] || fail "$f not installed"
done

# The manual pages: every installed program has one, groff renders it
# without a single warning, and `man NAME` finds it.
for p in keystead panelrun routersim pcslpack; do
  page=/usr/share/man/man1/$p.1.gz
  [ -f "$page" ] || fail "$page not installed"
  warnings=$(env -i PATH=/usr/bin:/bin MANWIDTH=80 man --warnings=all -l "$page" 2>&1 >/dev/null) \
    || fail "man -l $page: status $?: $warnings"
  [ -z "$warnings" ] || fail "man -l $page warned: $warnings"
  env -i PATH=/usr/bin:/bin MANWIDTH=80 MANPAGER=cat man "$p" 2>&1 | grep -Eq "^ *$p +- " \
    || fail "man $p does not show its page"
done
echo "check-deb: manual pages keystead(1) panelrun(1) routersim(1) pcslpack(1): no warning"

# From a clean environment and another directory, without a display.
cd /
v=$(env -i PATH=/usr/bin:/bin keystead --version) || fail "keystead --version: status $?"
[ "$v" = "keystead 1.1.1.7 (build date 2011-09-23T09:54:02.562000)" ] || fail "--version printed: $v"
env -i PATH=/usr/bin:/bin keystead --help | grep -q -- '--basedir' || fail "keystead --help"
echo "check-deb: $v"

# panelrun on the installed firmware: a panel starts and stops.
out=$(env -i PATH=/usr/bin:/bin panelrun --run-ms 300 --port 42901 </dev/null 2>&1) \
  || fail "panelrun: $out"
grep -q 'state 8 ST_RUNNING' <<<"$out" || fail "panelrun did not run a panel: $out"

# keystead starts a panel from the installed firmware (offscreen).
base=$work/base
mkdir -p "$base" "$work/tmp"
cat >"$base/cfg.xml" <<'XML'
<?xml version = '1.0'?>
<!DOCTYPE arch SYSTEM 'arch'>
<arch>
 <racks>
  <e><name>deb</name><desc/><expanded>1</expanded><visible>0</visible>
   <panel><e><uid>1</uid><name>p1</name><description/><paneltype>4</paneltype><visible>1</visible>
    <firmware_ip>127.0.0.1</firmware_ip><panelPort>42902</panelPort><should_autostart>1</should_autostart></e></panel>
   <ui_data/></e>
 </racks>
 <puid>1</puid>
 <ui_data/>
</arch>
XML
(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work/tmp" QT_QPA_PLATFORM=offscreen \
   keystead --basedir "$base" >ks.out 2>ks.err) &
ks=$!
for _ in $(seq 1 100); do
  grep -q 'FIRMWARE VERSION 1.1.1.7' "$work/ks.err" 2>/dev/null && break
  sleep 0.2
done
kill -TERM "$(head -1 "$work/tmp/keystead.lock")" 2>/dev/null || true
wait "$ks" || fail "keystead ended with status $?: $(tail -20 "$work/ks.err")"
grep -q 'FIRMWARE VERSION 1.1.1.7' "$work/ks.err" || fail "no panel started: $(tail -20 "$work/ks.err")"
cmp -s /usr/lib/tessaline/firm. "$base/data/p1/firm." || fail "the panel's firmware is not the installed one"
# The panel set service. Its user exists and owns the panel sets' directory.
getent passwd tessaline >/dev/null || fail "no user tessaline"
[ "$(stat -c %U /var/lib/tessaline)" = tessaline ] || fail "/var/lib/tessaline is not tessaline's"
inst=debcheck
svc="tessaline-panels@$inst.service"
$SUDO systemd-analyze verify "$svc" >"$work/verify.out" 2>&1 \
  || fail "systemd-analyze verify $svc: $(cat "$work/verify.out")"
[ ! -s "$work/verify.out" ] || fail "systemd-analyze verify $svc said: $(cat "$work/verify.out")"
echo "check-deb: systemd-analyze verify $svc: no complaint"

key() { sed -n "s/^$1=//p" "$unit" | tail -1; }
user=$(key User); group=$(key Group); nofile=$(key LimitNOFILE)
# The service manager sets the unit's limit; a sandbox without the right to
# raise the hard limit runs the command under the highest it allows.
if ! $SUDO prlimit --nofile="$nofile:$nofile" true 2>/dev/null; then
  hard=$(ulimit -Hn)
  echo "check-deb: LimitNOFILE=$nofile cannot be set here; running with the hard limit $hard"
  nofile=$hard
fi
signal=$(key KillSignal); signal=${signal:-SIGTERM}
cmdline=$(key ExecStart); cmdline=${cmdline//%i/$inst}
setdir=/var/lib/tessaline/$inst
# What the unit's StateDirectory= makes, with a panel set of two panels.
$SUDO install -d -o "$user" -g "$group" "$setdir"
$SUDO tee "$setdir/cfg.xml" >/dev/null <<'XML'
<?xml version = '1.0'?>
<!DOCTYPE arch SYSTEM 'arch'>
<arch>
 <racks>
  <e><name>service</name><desc/><expanded>1</expanded><visible>1</visible>
   <panel>
    <e><uid>1</uid><name>p1</name><description/><paneltype>10</paneltype><visible>1</visible>
     <firmware_ip>127.0.0.1</firmware_ip><panelPort>42911</panelPort><should_autostart>1</should_autostart></e>
    <e><uid>2</uid><name>p2</name><description/><paneltype>4</paneltype><visible>1</visible>
     <firmware_ip>127.0.0.1</firmware_ip><panelPort>42912</panelPort><should_autostart>1</should_autostart></e>
   </panel>
   <ui_data/></e>
 </racks>
 <puid>2</puid>
 <ui_data/>
</arch>
XML
$SUDO chown "$user:$group" "$setdir/cfg.xml"
routersim --bind 127.0.29.1:2001 --panel 127.0.0.1:42911 --panel 127.0.0.1:42912 --poll-ms 300 \
  --quiet </dev/null >/dev/null 2>"$work/router.err" &
router=$!
# As the service manager runs it: its limit, its user, its directory, no
# standard input.
(cd "$setdir" && exec $SUDO prlimit --nofile="$nofile:$nofile" -- \
   setpriv --reuid="$user" --regid="$group" --init-groups -- env -i PATH=/usr/bin:/bin $cmdline \
   </dev/null >/dev/null 2>"$work/svc.err") &
service=$!
online=0
for _ in $(seq 1 150); do
  grep -q 'summary running 2 online 2' "$work/svc.err" 2>/dev/null && { online=1; break; }
  sleep 0.2
done
pid=$(pgrep -u "$user" -x panelrun | head -1 || true)
[ "$online" = 1 ] || { [ -n "$pid" ] && $SUDO kill -KILL "$pid"; kill "$router"; \
  fail "the service's panels did not come online: $(tail -20 "$work/svc.err")"; }
[ -n "$pid" ] || fail "no panelrun of $user running"
[ "$(stat -c %U "$setdir/data/p1/firm.")" = "$user" ] || fail "panel directories not the service user's"
grep -q "Max open files *$nofile" "/proc/$pid/limits" || fail "open-files limit not $nofile"
$SUDO kill -s "${signal#SIG}" "$pid"
wait "$service" || fail "the service's command ended with status $? on $signal: $(tail -20 "$work/svc.err")"
kill "$router"; wait "$router" 2>/dev/null || true
grep -q 'panelrun: 2 panels stopped' "$work/svc.err" || fail "the panels did not stop: $(tail -20 "$work/svc.err")"
[ "$(grep -c '<should_autostart>1<' "$setdir/cfg.xml")" = 2 ] || fail "autostart marks not kept"
echo "check-deb: $svc: its command ran as $user, 2 panels online, stopped with $signal"
$SUDO rm -rf "$setdir"

echo "check-deb: OK"
