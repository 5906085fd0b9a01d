#!/usr/bin/env bash
# The README's two commands on a freshly made Debian 12 system: a bookworm
# root file system from debootstrap, entered with chroot, in which the
# committed HEAD of this checkout is cloned with the system's own git, then
# `make test` and `make run` (under Xvfb, until both demonstration panels
# are online) run as a new user would run them. Nothing of this machine's
# build, packages or caches reaches it: only the base system (debootstrap's
# output, before anything else is installed) is kept between runs.
#
#   devtools/fresh/fresh-check.sh [REPO]     (REPO: default, this checkout)
#
# Environment:
#   TESS_FRESH_CACHE    where the base system's tarball is kept
#                       (default /var/cache/tessaline-fresh)
#   TESS_FRESH_REFRESH  1: make the base system anew even if a cached one
#                       is there (it is also made anew when older than
#                       TESS_FRESH_MAX_AGE days, default 14)
#   TESS_FRESH_WORK     directory the root file system is made in
#                       (default /var/tmp); removed afterwards unless
#                       TESS_FRESH_KEEP=1
#   TESS_FRESH_MIRROR   Debian archive (default http://deb.debian.org/debian)
#
# Needs root (it asks for sudo otherwise); installs debootstrap (and iproute2)
# on this machine if missing.
# The packages the project needs are downloaded afresh every run, with the
# network; the tests and the demonstration run in a network namespace of
# their own (loopback only), so that other tests on this machine's loopback
# cannot answer theirs.
set -euo pipefail

# All of it in one block, read whole before it runs: an edit of this file
# during a run does not reach the running copy.
{
if [ "$(id -u)" != 0 ]; then
    exec sudo --preserve-env=TESS_FRESH_CACHE,TESS_FRESH_REFRESH,TESS_FRESH_MAX_AGE,TESS_FRESH_WORK,TESS_FRESH_KEEP,TESS_FRESH_MIRROR \
        "$0" "$@"
fi

REPO=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
CACHE=${TESS_FRESH_CACHE:-/var/cache/tessaline-fresh}
MAX_AGE=${TESS_FRESH_MAX_AGE:-14}
MIRROR=${TESS_FRESH_MIRROR:-http://deb.debian.org/debian}
SUITE=bookworm
# git and make: what a new user brings to follow the README at all.
BOOTSTRAP=(debootstrap --variant=minbase --include=git,make "$SUITE")

export DEBIAN_FRONTEND=noninteractive

TIMES=()
now() { date +%s; }
fmt() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
stage_start() { echo "== fresh: $1"; STAGE=$1; T0=$(now); }
stage_end() {
    local t=$(($(now) - T0))
    TIMES+=("$(printf '%-28s %s' "$STAGE" "$(fmt $t)")")
    echo "== fresh: $STAGE took $(fmt $t)"
}
START=$(now)

# This machine's tools for it: debootstrap, and ip for the loopback of the
# network namespace.
missing=
command -v debootstrap >/dev/null || missing+=" debootstrap"
command -v ip >/dev/null || missing+=" iproute2"
if [ -n "$missing" ]; then
    stage_start "install$missing"
    apt-get update -q && apt-get install -y -q $missing
    stage_end
fi

SHA=$(git -C "$REPO" rev-parse HEAD)
ROOT=$(mktemp -d "${TESS_FRESH_WORK:-/var/tmp}/tessaline-fresh.XXXXXX")
MOUNTS=()

# Every process still running inside the root file system (a test's
# leftover, an Xvfb): started by this script, ended by process id.
kill_inside() {
    local p r
    for p in /proc/[0-9]*; do
        r=$(readlink "$p/root" 2>/dev/null) || continue
        [ "$r" = "$ROOT" ] && kill -KILL "${p#/proc/}" 2>/dev/null || true
    done
}

unmount_all() {
    local i
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}" 2>/dev/null || true
    done
    MOUNTS=()
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM HUP
    kill_inside
    sleep 0.2
    unmount_all
    if grep -q " $ROOT[/ ]" /proc/self/mountinfo; then
        echo "fresh: $ROOT still has mounts; left in place" >&2
    elif [ "${TESS_FRESH_KEEP:-0}" = 1 ]; then
        echo "fresh: root file system kept in $ROOT"
    else
        rm -rf --one-file-system "$ROOT"
    fi
    if [ ${#TIMES[@]} -gt 0 ]; then
        echo "== fresh: times"
        printf '   %s\n' "${TIMES[@]}"
        echo "   $(printf '%-28s %s' total "$(fmt $(($(now) - START)))")"
    fi
    [ $rc = 0 ] && echo "== fresh: passed" || echo "== fresh: FAILED (status $rc)"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The base system, made once and kept as a tarball named after the
# debootstrap command that made it.
key=$(printf '%s\n' "${BOOTSTRAP[@]}" "$MIRROR" | sha256sum | cut -c1-16)
tarball=$CACHE/base-$SUITE-$key.tar.gz
if [ "${TESS_FRESH_REFRESH:-0}" = 1 ] || [ ! -s "$tarball" ] \
    || [ -n "$(find "$tarball" -mtime +"$MAX_AGE" 2>/dev/null)" ]; then
    stage_start "base system (debootstrap)"
    base=$ROOT/base
    mkdir "$base"
    "${BOOTSTRAP[@]}" "$base" "$MIRROR" >"$ROOT/debootstrap.log" 2>&1 \
        || { tail -30 "$ROOT/debootstrap.log"; echo "fresh: debootstrap failed" >&2; exit 1; }
    rm -rf "$base"/var/cache/apt/archives/*.deb "$base"/var/lib/apt/lists/*
    mkdir -p "$CACHE"
    tar -C "$base" --numeric-owner -czf "$tarball.new" .
    mv -f "$tarball.new" "$tarball"
    rm -rf --one-file-system "$base" "$ROOT/debootstrap.log"
    stage_end
fi

stage_start "base system (unpack)"
tar -C "$ROOT" --numeric-owner -xpzf "$tarball"
# As an installed system has it: the point-release updates and security
# archives, and a name server.
cat >"$ROOT/etc/apt/sources.list" <<EOF
deb $MIRROR $SUITE main
deb $MIRROR $SUITE-updates main
deb ${MIRROR%/debian}/debian-security $SUITE-security main
EOF
cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
stage_end

# Kernel file systems and a /dev of its own (on a tmpfs: nothing of the
# host's /dev is reachable from the root file system).
mnt() { mount "$@"; MOUNTS+=("${!#}"); }
mnt -t proc proc "$ROOT/proc"
mnt -t sysfs -o ro sysfs "$ROOT/sys"
mnt -t tmpfs -o mode=755,nosuid dev "$ROOT/dev"
for n in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$n"
    mknod -m 666 "$ROOT/dev/$name" c "$major" "$minor"
done
mkdir "$ROOT/dev/pts" "$ROOT/dev/shm"
mnt -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$ROOT/dev/pts"
ln -s pts/ptmx "$ROOT/dev/ptmx"
mnt -t tmpfs -o mode=1777,nosuid,nodev shm "$ROOT/dev/shm"
ln -s /proc/self/fd "$ROOT/dev/fd"
ln -s /proc/self/fd/0 "$ROOT/dev/stdin"
ln -s /proc/self/fd/1 "$ROOT/dev/stdout"
ln -s /proc/self/fd/2 "$ROOT/dev/stderr"

# A login shell's environment, nothing of this one's. The command runs in
# the background and is waited for, so that a signal reaches the traps at
# once (which end whatever still runs inside) rather than after it.
ENV_INSIDE=(env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=dumb LANG=C.UTF-8
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
            DEBIAN_FRONTEND=noninteractive)
inside() {
    "${ENV_INSIDE[@]}" chroot "$ROOT" /bin/bash -c "$1" </dev/null &
    wait $!
}
# The same, in a network namespace with only its own loopback.
inside_offline() {
    unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
        "${ENV_INSIDE[@]}" chroot "$ROOT" /bin/bash -c "$1" </dev/null &
    wait $!
}

# The commits reach the new system as a bundle of HEAD; a shallow checkout
# (CI's may be one) hands its boundary on, so that the clone is shallow
# where the checkout is.
stage_start "git clone"
git -C "$REPO" bundle create -q "$ROOT/root/head.bundle" HEAD
shallow=$(git -C "$REPO" rev-parse --path-format=absolute --git-path shallow)
[ ! -s "$shallow" ] || cp "$shallow" "$ROOT/root/head.shallow"
inside "cd /root && git -c advice.detachedHead=false clone -q head.bundle tessaline \
        && { [ ! -f head.shallow ] || mv head.shallow tessaline/.git/shallow; } \
        && rm head.bundle && cd tessaline && git checkout -q --detach $SHA \
        && git log -1 --format='%h %s'"
stage_end

# `make test` installs what is missing from the package list and builds;
# the installation is done first, on the network, so that the tests after
# it can run offline. The same command then finds every package in place.
stage_start "packages (make deps)"
inside "cd /root/tessaline && make deps >/root/deps.log 2>&1 \
        || { tail -40 /root/deps.log; exit 1; }; grep -c '^Setting up' /root/deps.log \
        | sed 's/^/packages installed: /'"
stage_end

stage_start "make test"
inside_offline "cd /root/tessaline && make test"
stage_end

stage_start "make run (demonstration)"
inside_offline "cd /root/tessaline \
        && python3 tests/keystead/app/test_demo.py \$PWD \$PWD/build --make-run"
stage_end
exit
}
