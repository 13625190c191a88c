#!/usr/bin/env bash
# Packages the default preset's build (cpack in build/default), checks the
# .deb with lintian (errors fail), installs it with apt, runs the installed
# oriel-cli over a cache written by the build's oriel-synth, checks the
# desktop entry, the metainfo and the manual pages as installed, and
# removes the package again. Needs a finished `cmake --build --preset
# default` and root (CI runs as root).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

echo "== package: cpack"
rm -f "$build"/oriel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/oriel_*_amd64.deb)
echo "$deb"

echo "== package: lintian"
# Root is fine for a throw-away check; errors fail, warnings are shown.
lintian --fail-on error --allow-root "$deb"

tmp=$(mktemp -d)
cleanup() {
    rm -rf "$tmp"
    if dpkg-query -W -f='${Status}' oriel 2>/dev/null | grep -q "install ok installed"; then
        $SUDO apt-get purge -y -qq oriel >/dev/null
    fi
}
trap cleanup EXIT

echo "== package: install"
$SUDO apt-get install -y -qq "./$deb" >/dev/null
[ "$(command -v oriel-cli)" = /usr/bin/oriel-cli ]

echo "== package: the installed files"
/usr/bin/oriel-cli --version
/usr/bin/oriel-cli --version | grep -qx "oriel-cli 2.8.03"
export ORIEL_CONFIG="$tmp/Oriel.ini" XDG_STATE_HOME="$tmp/state"
"$build"/tests/support/oriel-synth index-dat "$tmp/cache" --entries 25 >/dev/null
items=$(/usr/bin/oriel-cli list "$tmp/cache" | wc -l)
echo "oriel-cli list: $items items"
[ "$items" -eq 25 ]
desktop-file-validate /usr/share/applications/org.oriel.Oriel.desktop
appstreamcli validate --no-net --explain /usr/share/metainfo/org.oriel.Oriel.metainfo.xml >/dev/null
for page in oriel oriel-cli; do
    MANWIDTH=80 man "$page" 2>"$tmp/man.err" | grep -q "^NAME"
    if [ -s "$tmp/man.err" ]; then cat "$tmp/man.err"; exit 1; fi
done
[ -f /usr/share/bash-completion/completions/oriel-cli ]
# The report's thumbnailer is a module of its own: installed, and found.
[ -f /usr/lib/oriel/oriel-thumbnailer.so ]
"$build"/tests/support/oriel-synth index-dat "$tmp/pictures" --entries 6 --images 3 >/dev/null
/usr/bin/oriel-cli report --to "$tmp/report" "$tmp/pictures" >/dev/null 2>"$tmp/report.err"
cat "$tmp/report.err"
grep -q "6 items, 6 bodies hashed, 3 pictures" "$tmp/report.err"
[ -f /usr/share/icons/hicolor/scalable/apps/oriel.svg ]

echo "== package: remove"
$SUDO apt-get purge -y -qq oriel >/dev/null
[ ! -e /usr/bin/oriel-cli ]
echo "package: built, checked, installed, run and removed"
