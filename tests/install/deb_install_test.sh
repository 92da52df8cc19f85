#!/usr/bin/env bash
# Builds the .deb from a configured and built tree, unpacks it into a temporary root
# (dpkg -x, no system change), checks where every file lands, validates the desktop
# entry and the metainfo, and starts the unpacked program offscreen with a temporary
# home: it must keep running and keep its records in the per-user data folder.
#
#   deb_install_test.sh <build folder>
set -euo pipefail

build=$(cd "${1:?usage: deb_install_test.sh <build folder>}" && pwd)
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli lintian; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

# ---- package: into the temporary folder, so the build tree stays clean ----
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/pkg/quindle_*.deb)
[ -f "${debs[0]}" ] || fail "no quindle_*.deb produced"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins libarchive13 liburing2 libzstd1 libxxhash0 libutf8proc2; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section is not utils"
grep -q "xchm" <<<"$(dpkg-deb -f "$deb" Suggests)" || fail "does not suggest a .chm viewer"

# ---- lintian: no error, no warning (its root warning is not about the package) ----
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 \
    || { cat "$work/lintian.log" >&2; fail "lintian"; }

# ---- unpack and check the layout ----
root="$work/root"
dpkg-deb -x "$deb" "$root"
lib="$root/usr/lib/quindle"
[ -x "$lib/quindle" ] || fail "program not at /usr/lib/quindle/quindle"
[ -f "$lib/quindle.installed" ] || fail "installed marker missing"
[ -f "$build/help.chm" ] || fail "help.chm was not built (chmcmd, from fp-utils)"
cmp -s "$build/help.chm" "$lib/help.chm" || fail "help.chm not beside the program"
# The HTML pages, once the build puts them beside the program: every one in the package.
if [ -d "$build/help" ]; then
    [ -f "$lib/help/index.html" ] || fail "HTML help index.html missing"
    (cd "$build/help" && find . -type f) | while read -r page; do
        cmp -s "$build/help/$page" "$lib/help/$page" || fail "HTML help $page missing"
    done
fi
doc="$root/usr/share/doc/quindle"
head -n1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "copyright is not machine-readable"
top=$(gzip -dc "$doc/changelog.Debian.gz" | head -n1)
[ "$top" = "quindle ($(dpkg-deb -f "$deb" Version)) unstable; urgency=medium" ] \
    || fail "changelog's newest entry is not this version: $top"
for page in quindle quindle-cli; do
    man="$root/usr/share/man/man1/$page.1.gz"
    [ -f "$man" ] || fail "manual page $page.1 missing"
    gzip -dc "$man" | grep -q "^\.TH $(tr a-z A-Z <<<"$page" | sed 's/-/\\\\-/g') 1 " \
        || fail "$page.1 is not the manual page of $page"
done
# The bash completion, where bash-completion looks for it by the command's name, and the
# very script that the packaged quindle-cli writes.
completion="$root/usr/share/bash-completion/completions/quindle-cli"
[ -f "$completion" ] || fail "bash completion of quindle-cli missing"
"$lib/quindle-cli" completion bash | cmp -s - "$completion" \
    || fail "the bash completion is not the one quindle-cli writes"
bash --norc -c 'source "$1" && complete -p quindle-cli' bash "$completion" | grep -q '_quindle_cli quindle-cli$' \
    || fail "the bash completion does not bind quindle-cli"
[ -L "$root/usr/bin/quindle" ] || fail "/usr/bin/quindle is not a symbolic link"
[ "$(readlink -f "$root/usr/bin/quindle")" = "$(readlink -f "$lib/quindle")" ] \
    || fail "/usr/bin/quindle does not lead to the program"
desktop="$root/usr/share/applications/quindle.desktop"
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -n1)
[ -f "$desktop" ] || fail "desktop entry missing"
[ -n "$metainfo" ] || fail "metainfo missing"
for size in 16 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/quindle.png"
    [ -f "$png" ] || fail "icon ${size}x${size} missing"
    # Width and height: two big-endian 32-bit numbers at offset 16 of the PNG header.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
done
grep -q '^Icon=quindle$' "$desktop" || fail "desktop entry does not name the icon"
grep -q '^Exec=quindle' "$desktop" || fail "desktop entry does not start quindle"
grep -q '<launchable type="desktop-id">quindle.desktop</launchable>' "$metainfo" \
    || fail "metainfo does not launch quindle.desktop"

# ---- validators ----
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

# ---- start the unpacked program through its link, with a home of its own ----
# It must make its per-user data folder (proof that it started and took the installed
# path) and still be running a moment later; a loaded machine gets up to 30 s to get there.
home="$work/home"
mkdir -p "$home"
mkdir -m 700 "$work/run"
userdata="$home/.local/share/Quindle/data"
env -i PATH="$PATH" HOME="$home" \
    XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$work/run" \
    QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/quindle" >"$work/run.log" 2>&1 &
pid=$!
running() { kill -0 "$pid" 2>/dev/null; }
ended() { rc=0; wait "$pid" || rc=$?; pid=; cat "$work/run.log" >&2; fail "the program ended by itself (exit $rc) instead of running"; }
for _ in $(seq 300); do
    [ -d "$userdata" ] && break
    running || ended
    sleep 0.1
done
[ -d "$userdata" ] || { kill "$pid"; fail "no per-user data folder under the temporary home"; }
sleep 2
running || ended
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
[ ! -e "$lib/data" ] || fail "the installed program made data/ beside itself"
[ ! -e "$root/usr/bin/data" ] || fail "the installed program made data/ beside its link"

echo "deb_install_test: ok ($(basename "$deb"))"
