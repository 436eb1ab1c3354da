#!/usr/bin/env bash
# Checks what an installation gives: the installed tree runs and makes the user's database
# on its first start, the launcher and the software-centre description validate, and the
# Debian package builds with its dependencies. Usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null
app=example.qel.quembe
desktop-file-validate "$work/usr/share/applications/$app.desktop"
appstreamcli validate --no-net "$work/usr/share/metainfo/$app.metainfo.xml"
test -f "$work/usr/share/icons/hicolor/64x64/apps/$app.png"

# First start with a fresh home: the database appears in the user's data folder. The
# program waits at its login dialog, so it is stopped once the file is there.
mkdir -p "$work/home"
HOME="$work/home" QT_QPA_PLATFORM=offscreen timeout 10 "$work/usr/bin/quembe" >/dev/null 2>&1 &
pid=$!
db="$work/home/.local/share/quembe/velmora.mdb"
for _ in $(seq 100); do [ -f "$db" ] && break; sleep 0.1; done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
test -f "$db" || { echo "check-install: the first start made no database" >&2; exit 1; }
[ "$(sqlite3 "$db" 'select count(*) from zl')" = 0 ]
echo "check-install: installed tree runs and made $db"

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quembe_*.deb | head -n1)
dpkg-deb --field "$deb" Depends
contents=$(dpkg-deb --contents "$deb")
grep -q "usr/bin/quembe$" <<<"$contents"
echo "check-install: $deb"
