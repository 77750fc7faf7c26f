#!/usr/bin/env bash
# scripts/install-missing.sh against a stand-in apt-get that records its command lines: every
# apt-get call must wait for the package manager's lock (DPkg::Lock::Timeout) rather than fail
# while another apt process holds it, and nothing is called when nothing is missing.
# Usage: install-missing-test.sh SCRIPT
set -u
script=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat > "$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "$*" >> "$CALLS"
STUB
# The script installs only as root: the stand-in id says so.
printf '#!/bin/sh\necho 0\n' > "$work/bin/id"
chmod +x "$work/bin/apt-get" "$work/bin/id"
export CALLS=$work/calls
fail=0

PATH="$work/bin:$PATH" APT_LOCK_TIMEOUT=42 "$script" " libfoo-dev" "libfoo-dev bar" >/dev/null
expected='-o DPkg::Lock::Timeout=42 update
-o DPkg::Lock::Timeout=42 install -y libfoo-dev'
if [ "$(cat "$CALLS")" != "$expected" ]; then
    echo "apt-get calls with APT_LOCK_TIMEOUT=42:"; cat "$CALLS"; fail=1
fi

rm -f "$CALLS"
PATH="$work/bin:$PATH" "$script" " libfoo-dev" "libfoo-dev" >/dev/null
if ! grep -q -- '-o DPkg::Lock::Timeout=600 install' "$CALLS"; then
    echo "apt-get calls by default:"; cat "$CALLS"; fail=1
fi

rm -f "$CALLS"
PATH="$work/bin:$PATH" "$script" "" "libfoo-dev" >/dev/null
if [ -e "$CALLS" ]; then
    echo "apt-get called with nothing missing:"; cat "$CALLS"; fail=1
fi
exit $fail
