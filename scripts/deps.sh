#!/usr/bin/env bash
# Installs the packages the build and the tests need, when they are missing.
# Sourced by scripts/test and scripts/run, it only defines the functions they
# call. Run as root (scripts/deps.sh) it installs them; as another user it
# names what is missing. Non-interactive; a no-op once everything is there.
set -euo pipefail

NCL_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-serialport-dev qt6-base-dev-tools
    libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
    clang
    chrony sntp socat rsyslog xvfb
    trayer x11-apps imagemagick xdotool
    poppler-utils procps iproute2 tzdata python3 rsync
)

ncl_missing_packages() {
    local missing=()
    for p in "${NCL_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    echo "${missing[@]:-}"
}

ncl_install_deps() {
    local missing
    missing=$(ncl_missing_packages)
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages (install them as root): $missing" >&2
        return 1
    fi
    echo "installing: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # The daemons among the packages must not start on install: the tests
    # start their own copies on loopback with private configurations.
    local policy=/usr/sbin/policy-rc.d created=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && created=1
    fi
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
    [ "$created" = 1 ] && rm -f "$policy"
    return 0
}

# Run rather than sourced: install what is missing (as root), or name it.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    ncl_install_deps
    echo "every package the build and the tests need is installed"
fi
