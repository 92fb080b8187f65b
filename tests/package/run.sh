#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root and follows it
# through its life: dpkg -i and apt-get install -f, the files, the user, the
# data folder, the registration (nclsc query Nightcall), the manual pages, a
# start through the agent's own service manager with a heartbeat to a
# controller, then removal and purge, after which nothing of it may be left
# but the user nclmod.
#
# Needs root (debootstrap, chroot, a private network namespace); not part of
# the ctest run. The bare root is made once with debootstrap and kept in
# $NCL_PACKAGE_TEST_CACHE (default /var/cache/nclmod-package-test) with the
# downloaded packages; every run works on a fresh copy of it. Exit code: 0
# when every check passed, 1 when one failed, 2 when it could not run.
#
# The agent in the root runs with a simulated clock, recorded power actions
# and no capability but binding port 1001, inside a network namespace of its
# own: nothing it does can reach this machine's clock, power or network.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" != 0 ]; then
    echo "run.sh: needs root (debootstrap, chroot, unshare)" >&2
    exit 2
fi
started=$(date +%s)
for tool in debootstrap unshare ip setpriv; do
    command -v "$tool" >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            debootstrap util-linux iproute2 >/dev/null
done

# NCL_PACKAGE_DEB names a package already built; else scripts/package builds it.
deb=${NCL_PACKAGE_DEB:-$(scripts/package | tail -n1)}
echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Depends

cache=${NCL_PACKAGE_TEST_CACHE:-/var/cache/nclmod-package-test}
base=$cache/bookworm-base
mkdir -p "$cache/archives/partial"
if [ ! -x "$base/usr/bin/man" ]; then
    rm -rf "$base.tmp"
    debootstrap --variant=minbase --include=man-db bookworm "$base.tmp" \
        http://deb.debian.org/debian >"$cache/debootstrap.log"
    mv "$base.tmp" "$base"
fi

root=$(mktemp -d "$cache/root.XXXXXX")
cleanup() {
    for m in var/cache/apt/archives dev/pts proc; do
        mountpoint -q "$root/$m" && umount -l "$root/$m"
    done
    rm -f "$root.before" "$root.after"
    if [ -n "${NCL_PACKAGE_TEST_KEEP:-}" ]; then
        echo "kept: $root"
    elif ! grep -q " $root/" /proc/mounts; then
        # Never into a mount that is still there.
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No daemon of a dependency starts in the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"

inroot() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
failures=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >/dev/null; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}
snapshot() {
    (cd "$root" && find . -xdev \( -path ./var/cache/apt -o -path ./var/lib/apt/lists \
        -o -path ./tmp \) -prune -o -print | sort)
}

snapshot >"$root.before"
inroot apt-get update -qq
cp "$deb" "$root/tmp/nclmod.deb"
# The libraries are not in the bare root yet: dpkg leaves the package
# unconfigured and apt-get install -f brings them and configures it.
inroot dpkg -i /tmp/nclmod.deb >/dev/null 2>&1 || true
inroot apt-get install -f -y -qq --no-install-recommends >/dev/null
rm "$root/tmp/nclmod.deb"
check "installed and configured" \
    test "$(inroot dpkg-query -W -f='${Status}' nclmod)" = "install ok installed"

echo "-- files, user, data folder"
for f in /usr/sbin/NCLmod /usr/bin/nclreg /usr/bin/nclsc /usr/bin/nclconsole \
    /lib/systemd/system/nightcall.service /usr/share/doc/nclmod/copyright \
    /usr/share/man/man8/NCLmod.8.gz /usr/share/man/man1/nclreg.1.gz \
    /usr/share/man/man1/nclsc.1.gz /usr/share/man/man1/nclconsole.1.gz; do
    check "$f" test -f "$root$f"
done
for program in /usr/sbin/NCLmod /usr/bin/nclsc /usr/bin/nclreg /usr/bin/nclconsole; do
    check "$program finds every library" \
        bash -c "! chroot '$root' ldd '$program' | grep -q 'not found'"
done
passwd=$(inroot getent passwd nclmod || true)
uid=$(echo "$passwd" | cut -d: -f3)
check "system user nclmod ($passwd)" test -n "$uid" -a "${uid:-1000}" -lt 1000
check "its home is the data folder" test "$(echo "$passwd" | cut -d: -f6)" = /var/lib/nclmod
check "group nclmod" inroot getent group nclmod
check "nclmod may use the serial ports" bash -c "chroot '$root' id -nG nclmod | grep -qw dialout"
check "data folder 0750 nclmod:nclmod" \
    test "$(inroot stat -c '%a %U %G' /var/lib/nclmod)" = "750 nclmod nclmod"
check "store owned by nclmod" test "$(inroot stat -c %U /var/lib/nclmod/registry.db)" = nclmod
check "enabled for systemd" \
    test -L "$root/etc/systemd/system/multi-user.target.wants/nightcall.service"
check "nothing started by the installation" bash -c "! pgrep -f '^/usr/sbin/NCLmod' >/dev/null"

echo "-- registration and manual pages"
query=$(inroot nclsc query Nightcall 2>&1 || true)
echo "$query" | sed 's/^/     /'
check "nclsc query Nightcall: registered, stopped" grep -q "1  STOPPED" <<<"$query"
check "man -w nclsc" test "$(inroot man -w nclsc)" = /usr/share/man/man1/nclsc.1.gz
check "man -w 8 NCLmod" test "$(inroot man -w 8 NCLmod)" = /usr/share/man/man8/NCLmod.8.gz
check "the NCLmod page has the hand-written part" \
    bash -c "zcat '$root/usr/share/man/man8/NCLmod.8.gz' | grep -q NCLMOD_SIMCLOCK"

echo "-- the service started by the agent's service manager, confined as its unit confines it"
# Inside a private network namespace: a controller on 127.0.0.1:1001 hears
# the agent (on 127.0.0.2:1001) come up; then the console's heartbeat.
# Without systemd to run the unit, its confinement is rebuilt by hand as far
# as it shapes what the agent may touch: the user nclmod with no new
# privileges and only the capability to bind port 1001, the whole root
# read-only but the data folder (ProtectSystem=strict), empty /home and
# /root (ProtectHome), a private /tmp (PrivateTmp), read-only kernel
# tunables. Not rebuilt: the system call filter, the address families and
# the other capabilities (the clock, power), which the agent does not use here.
printf 'ServerName, 127.0.0.1\n' >"$root/var/lib/nclmod/REVavidod.ini"
inroot chown nclmod:nclmod /var/lib/nclmod/REVavidod.ini
cat >"$root/run/ncl-service-check" <<'SCRIPT'
set -u
if touch /var/ncl-probe 2>/dev/null; then echo "confined=no"; else echo "confined=yes"; fi
nclconsole listen --host 127.0.0.1 --port 1001 --count 1 >/tmp/heard 2>/tmp/listen.err &
listener=$!
for _ in $(seq 50); do grep -q "listening on port" /tmp/listen.err && break; sleep 0.1; done
setpriv --reuid=nclmod --regid=nclmod --init-groups --bounding-set=-all,+net_bind_service \
    --inh-caps=+net_bind_service --ambient-caps=+net_bind_service --no-new-privs \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/var/lib/nclmod NCLMOD_HOME=/var/lib/nclmod \
    NCLMOD_SIMCLOCK=/var/lib/nclmod/simclock NCLMOD_FORBID_REAL_CLOCK=1 \
    NCLMOD_POWER=record:/var/lib/nclmod/power NCLMOD_BIND_ADDRESS=127.0.0.2 \
    nclsc start Nightcall
echo "start=$?"
for _ in $(seq 100); do kill -0 "$listener" 2>/dev/null || break; sleep 0.1; done
echo "heard=$(cat /tmp/heard)"
echo "query=$(nclsc query Nightcall | grep STATE)"
echo "heartbeat=$(nclconsole --host 127.0.0.2 heartbeat)"
pid=$(nclsc query Nightcall | sed -n 's/^ *PID *: *//p')
echo "user=$(stat -c %U "/proc/$pid")"
nclconsole --host 127.0.0.2 force "2029-01-01 00:00:00 000" >/dev/null
for _ in $(seq 50); do [ -s /var/lib/nclmod/simclock ] && break; sleep 0.1; done
echo "offset=$(cat /var/lib/nclmod/simclock 2>/dev/null)"
nclsc stop Nightcall >/dev/null
echo "stop=$?"
for _ in $(seq 100); do nclsc query Nightcall | grep -q STOPPED && break; sleep 0.1; done
echo "after=$(nclsc query Nightcall | grep STATE)"
echo "output=$(tr '\n' '|' </var/lib/nclmod/ServiceOutput.txt)"
kill "$listener" 2>/dev/null
SCRIPT
result=$(unshare --net --mount bash -c "set -e
    ip link set lo up
    mount --make-rprivate /
    mount --rbind '$root' '$root'
    mount --bind '$root/var/lib/nclmod' '$root/var/lib/nclmod'
    mount -t tmpfs -o mode=1777 tmpfs '$root/tmp'
    mount -t tmpfs -o mode=0755 tmpfs '$root/home'
    mount -t tmpfs -o mode=0700 tmpfs '$root/root'
    mount --bind '$root/proc/sys' '$root/proc/sys'
    mount -o remount,bind,ro '$root/proc/sys'
    mount -o remount,bind,ro '$root'
    exec chroot '$root' /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        /bin/bash /run/ncl-service-check" 2>&1 || true)
rm "$root/run/ncl-service-check"
echo "$result" | sed 's/^/     /'
field() { sed -n "s/^$1=//p" <<<"$result"; }
check "the root is read-only but the data folder" test "$(field confined)" = yes
check "nclsc start Nightcall" test "$(field start)" = 0
check "the controller heard the agent come up" grep -q " 127.0.0.2 up " <<<"$(field heard)"
check "running as the service" grep -q "4  RUNNING" <<<"$(field query)"
check "it answers the console's heartbeat" grep -q "^OK-H" <<<"$(field heartbeat)"
check "it runs as nclmod" test "$(field user)" = nclmod
check "nclsc stop Nightcall" test "$(field stop)" = 0
check "stopped afterwards" grep -q "1  STOPPED" <<<"$(field after)"
check "no power action" test ! -e "$root/var/lib/nclmod/power"
# Forced to 2029, the agent moved its simulated clock years ahead.
check "a forced setting moved the simulated clock" test "$(field offset)" -gt 100000000

echo "-- an upgrade keeps the registration and the data"
cp "$deb" "$root/tmp/nclmod.deb"
inroot dpkg -i /tmp/nclmod.deb >/dev/null
rm "$root/tmp/nclmod.deb"
check "still registered" bash -c "chroot '$root' nclsc query Nightcall | grep -q '1  STOPPED'"
check "the data stayed" test -s "$root/var/lib/nclmod/simclock"

echo "-- removal keeps the data, purge takes it"
inroot dpkg -r nclmod >/dev/null
for f in /usr/sbin/NCLmod /usr/bin/nclsc /lib/systemd/system/nightcall.service \
    /usr/share/man/man1/nclsc.1.gz; do
    check "removed: $f" test ! -e "$root$f"
done
check "kept after removal: the data folder" test -f "$root/var/lib/nclmod/registry.db"
inroot dpkg -P nclmod >/dev/null
check "purged: the data folder" test ! -e "$root/var/lib/nclmod"
check "kept after purge: the user nclmod" inroot getent passwd nclmod

echo "-- where systemd runs, only systemd starts the service"
# The maintainer scripts see a running systemd in /run/systemd/system. None
# runs here, and policy-rc.d refuses every start, so this shows only what the
# registration becomes; the start that must be refused runs confined anyway.
mkdir -p "$root/run/systemd/system"
cp "$deb" "$root/tmp/nclmod.deb"
inroot dpkg -i /tmp/nclmod.deb >/dev/null
rm "$root/tmp/nclmod.deb"
check "registered" bash -c "chroot '$root' nclsc query Nightcall | grep -q '1  STOPPED'"
refused=$(unshare --net chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    NCLMOD_SIMCLOCK=/tmp/simclock NCLMOD_FORBID_REAL_CLOCK=1 NCLMOD_POWER=record:/tmp/power \
    nclsc start Nightcall 2>&1 || true)
check "nclsc start refuses a service systemd starts" grep -q "1058" <<<"$refused"
inroot dpkg -P nclmod >/dev/null
rm -rf "$root/run/systemd" "$root/tmp/simclock" "$root/tmp/power"
check "purged again: the data folder" test ! -e "$root/var/lib/nclmod"
inroot apt-get autoremove --purge -y -qq >/dev/null
left=$(cd "$root" && find . -xdev \( -iname '*nclmod*' -o -iname '*nightcall*' \) -print)
check "no file named after the package is left" test -z "$left"
[ -z "$left" ] || echo "$left" | sed 's/^/     left: /'
# What else differs from the bare root is bookkeeping that Debian keeps:
# the user's entries, dpkg's and apt's records, logs, caches and adduser's
# lock in /run (a tmpfs on a running system).
snapshot >"$root.after"
extra=$(comm -13 "$root.before" "$root.after" | grep -vE \
    '^\./(etc/(passwd|group|shadow|gshadow)-?$|etc/ld\.so\.cache$|var/lib/dpkg/|var/lib/apt/|var/log/|var/cache/|run/|etc/systemd/system$|etc/systemd/system/multi-user\.target\.wants$|var/lib/systemd(/deb-systemd-helper-(enabled|masked))?$)' ||
    true)
check "nothing else is left" test -z "$extra"
[ -z "$extra" ] || echo "$extra" | sed 's/^/     left: /'

echo "$failures failure(s); $(($(date +%s) - started)) s"
[ "$failures" = 0 ]
