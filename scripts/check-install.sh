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

# Recognition loads its module at the first picture: the installed one, not the build's.
python3 - "$work/white.png" <<'PY'
import struct, sys, zlib
w = h = 64
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
rows = b"".join(b"\0" + b"\xff" * w for _ in range(h))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
loaded=$(LD_DEBUG=files QT_QPA_PLATFORM=offscreen "$work/usr/bin/quembe-cards" recognize \
    "$work/white.png" 2>&1 >/dev/null | grep "quembe-ocr.so.*generating link map" | grep -o "/[^ ]*quembe-ocr.so" |
    head -n1 || true)
case "$loaded" in
"$work"/usr/*) echo "check-install: recognition loaded $loaded" ;;
*)
    echo "check-install: recognition did not load the installed module (${loaded:-none})" >&2
    exit 1
    ;;
esac

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quembe_*.deb | head -n1)
dpkg-deb --field "$deb" Depends
contents=$(dpkg-deb --contents "$deb")
grep -q "usr/bin/quembe$" <<<"$contents"
grep -q "usr/lib/.*quembe/quembe-ocr.so$" <<<"$contents"
grep -q "usr/lib/.*quembe/quembe-phone.so$" <<<"$contents"
grep -q "usr/lib/.*quembe/quembe-keychain.so$" <<<"$contents"
echo "check-install: $deb"
