#!/usr/bin/env bash
# Installs the Debian packages Tachora builds, runs and tests with. Idempotent:
# quiet and quick when everything is present; uses sudo when not root.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++
  # user interface, video, map page, JPEG
  qt6-base-dev libqt6opengl6-dev libmpv-dev qt6-webengine-dev libjs-leaflet libjpeg-dev
  # the map reads offline tiles from .mbtiles files (SQLite) through Qt SQL
  libqt6sql6-sqlite
  # the map page's view in a window of its own (Qt WebEngine's Quick view)
  qml6-module-qtwebengine qml6-module-qtqml-workerscript
  # Qt's own dialog texts (file dialogs, message box buttons) in Russian
  qt6-translations-l10n
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # SHA-256 of copied recordings (libcrypto: the processor's SHA instructions)
  libssl-dev
  # signing release downloads (scripts/sign-release.sh, and its test)
  openssl
  # libFuzzer targets
  clang libclang-rt-14-dev
  # the test command checks every source's formatting against .clang-format
  clang-format
  # test media and outside checks
  ffmpeg gpsbabel libxml2-utils
  # bench/compare_playback.sh measures the player against bare mpv
  mpv
  # GUI tests
  xvfb xauth libgl1-mesa-dri fonts-liberation fonts-dejavu-core
  # locale sources: tests build a decimal-comma locale to prove numbers ignore it
  locales
  # re-encoded export and the repair's sound check: the FFmpeg libraries
  libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev
  # outside checks of telemetry embedded in recordings (tests only)
  libimage-exiftool-perl
  # block-sharing cut tests and bench/compare_cut.sh on loop-mounted XFS and Btrfs images
  xfsprogs btrfs-progs
  # installation checks: desktop entry, AppStream file, manual pages, package
  desktop-file-utils appstream help2man dpkg-dev
  # the icon's PNGs are rendered from its SVG at build time
  librsvg2-bin
  # the CLI tests read --json output with Python's JSON reader
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO="sudo"; else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
