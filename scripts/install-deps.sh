#!/usr/bin/env bash
# Installs the Debian 12 packages the program needs to build, run and be tested.
set -euo pipefail

packages=(qt6-base-dev libqt6sql6-sqlite cmake g++ make pkg-config fonts-noto-cjk
          sqlite3 libsqlite3-dev libsodium-dev libicu-dev
          libtesseract-dev libleptonica-dev tesseract-ocr-chi-sim tesseract-ocr-eng
          python3 python3-vobject appstream desktop-file-utils dpkg-dev clang-format
          libxlsxwriter-dev qt6-translations-l10n qt6-image-formats-plugins
          xvfb openbox x11-utils ccache libphonenumber-dev
          radicale xandikos apache2-utils openssl curl)
# Card photos: the card found and flattened before it is read.
packages+=(libopencv-dev)
# The drawn test cards are set in Ming, Kai and WenQuanYi faces too.
packages+=(fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei)
# QR codes: drawn with libqrencode, found with zxing-cpp; zbarimg checks them in the tests.
packages+=(libqrencode-dev libzxing-dev zbar-tools)
# The sync password in the desktop's keychain; the tests run a Secret Service of their own.
packages+=(qtkeychain-qt6-dev gnome-keyring dbus-x11)
# A Digest login in the sync tests: lighttpd asks for it in front of Radicale.
packages+=(lighttpd)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
