#!/usr/bin/env bash
# Runs scripts/setup against fake id, dpkg-query, apt-get and sudo on a PATH that holds
# nothing else, so nothing is installed: as root without sudo, as a user with sudo
# (which, like the real one, starts the command with a reset environment), as a user
# without sudo, and with nothing missing.
#
#   setup_test.sh <source folder>
set -euo pipefail
setup="$(cd "${1:?usage: setup_test.sh <source folder>}" && pwd)/scripts/setup"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

fake() { printf '#!/bin/bash\n%s\n' "$2" >"$work/base/$1"; chmod +x "$work/base/$1"; }
mkdir "$work/base"
for tool in bash env grep cat; do ln -s "$(command -v "$tool")" "$work/base/$tool"; done
fake id 'echo "$FAKE_UID"'
# Every package is installed except the ones named in FAKE_MISSING.
fake dpkg-query 'p=${!#}; [[ " $FAKE_MISSING " == *" $p "* ]] || echo "install ok installed"'
fake apt-get 'echo "apt-get $* DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}" >>"$FAKE_LOG"'
mkdir "$work/sudo"
cp "$work/base/"* "$work/sudo/" 2>/dev/null || true
printf '#!/bin/bash\necho "sudo" >>"%s/log"\nexec /usr/bin/env -i PATH="$PATH" FAKE_LOG="%s/log" "$@"\n' \
    "$work" "$work" >"$work/sudo/sudo"
chmod +x "$work/sudo/sudo"

# case: uid, bin folder, missing packages, expected exit, expected log (| between lines)
cases=(
    "0|base|lintian|0|apt-get update -qq DEBIAN_FRONTEND=noninteractive|apt-get install -y -qq --no-install-recommends lintian DEBIAN_FRONTEND=noninteractive"
    "1000|sudo|lintian cmake|0|sudo|apt-get update -qq DEBIAN_FRONTEND=noninteractive|sudo|apt-get install -y -qq --no-install-recommends cmake lintian DEBIAN_FRONTEND=noninteractive"
    "1000|base|lintian|1|"
    "1000|base||0|"
)
for c in "${cases[@]}"; do
    IFS='|' read -r uid bin missing want_rc want_log <<<"$c"
    want_log=${c#*|*|*|*|}
    : >"$work/log"
    rc=0
    env -i PATH="$work/$bin" FAKE_UID="$uid" FAKE_MISSING="$missing" FAKE_LOG="$work/log" \
        bash "$setup" >"$work/out" 2>&1 || rc=$?
    log=$(paste -sd'|' "$work/log")
    [ "$rc" = "$want_rc" ] || { cat "$work/out" >&2; fail "uid $uid, $bin, missing '$missing': exit $rc, not $want_rc"; }
    [ "$log" = "$want_log" ] || fail "uid $uid, $bin, missing '$missing': ran '$log', not '$want_log'"
    if [ "$want_rc" != 0 ]; then
        grep -q "sudo is not installed" "$work/out" && grep -q "run this" "$work/out" \
            && grep -q "apt-get install $missing" "$work/out" \
            || { cat "$work/out" >&2; fail "no plain advice without root and sudo"; }
    fi
done
echo "setup_test: ok"
