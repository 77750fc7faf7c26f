#!/usr/bin/env bash
# Installs the Debian packages a build step found missing: with apt-get when run as root on a
# machine that has it, otherwise prints the exact command and fails.
# Usage: scripts/install-missing.sh "MISSING PACKAGES" "ALL PACKAGES OF THE STEP"
set -u
missing=$1
all=$2
[ -n "$missing" ] || exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing:$missing"
    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $missing || exit 1
else
    echo "Missing:$missing. Install them with:"
    echo "  sudo apt-get update && sudo apt-get install -y $all"
    exit 1
fi
