#!/usr/bin/env bash
# Installs the Debian packages a build step found missing: with apt-get when run as root on a
# machine that has it, otherwise prints the exact command and fails. While another apt or dpkg
# process holds the package manager's lock (a new machine installing its updates), apt-get waits
# for it up to APT_LOCK_TIMEOUT seconds (default 600) instead of failing at once.
# Usage: scripts/install-missing.sh "MISSING PACKAGES" "ALL PACKAGES OF THE STEP"
set -u
missing=$1
all=$2
lock_timeout=${APT_LOCK_TIMEOUT:-600}
[ -n "$missing" ] || exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing:$missing"
    apt-get -o DPkg::Lock::Timeout="$lock_timeout" update &&
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$lock_timeout" \
            install -y $missing || exit 1
else
    echo "Missing:$missing. Install them with:"
    echo "  sudo apt-get update && sudo apt-get install -y $all"
    exit 1
fi
