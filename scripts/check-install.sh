#!/usr/bin/env bash
# Checks what a user gets from a built tree (a minute at most):
#   1. cmake --install into a temporary prefix gives exactly the expected
#      files; the desktop entry and the AppStream file validate; the
#      programs, their manual pages and the bash completion work from there;
#   2. cpack builds tachora_<version>_<arch>.deb with the same files under
#      /usr and Depends naming the libraries and Qt plugins it needs.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
BUILD="$(cd "${1:?usage: check-install.sh BUILD_DIR}" && pwd)"
ID=org.tachora.Tachora
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}

EXPECTED=(
  bin/tachora
  bin/tachora-cli
  libexec/tachora/tachora-render
  share/applications/$ID.desktop
  share/metainfo/$ID.metainfo.xml
  share/icons/hicolor/scalable/apps/$ID.svg
  share/icons/hicolor/48x48/apps/$ID.png
  share/icons/hicolor/256x256/apps/$ID.png
  share/man/man1/tachora.1
  share/man/man1/tachora-cli.1
  share/bash-completion/completions/tachora-cli
)
expected_list() { printf "$1%s\n" "${EXPECTED[@]}" | sort; }

PREFIX="$WORK/prefix"
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
diff <(cd "$PREFIX" && find . -type f -o -type l | sed 's|^\./||' | sort) <(expected_list "") ||
  fail "the installed files differ from the list above (< installed, > expected)"
for f in "${EXPECTED[@]}"; do [ -s "$PREFIX/$f" ] || fail "$f is empty"; done

desktop-file-validate "$PREFIX/share/applications/$ID.desktop"
grep -qx 'Exec=tachora %F' "$PREFIX/share/applications/$ID.desktop" || fail "Exec line"
grep -q '^MimeType=video/quicktime;video/mp4;' "$PREFIX/share/applications/$ID.desktop" ||
  fail "MimeType line"
appstreamcli validate --no-net "$PREFIX/share/metainfo/$ID.metainfo.xml" >/dev/null ||
  appstreamcli validate --no-net "$PREFIX/share/metainfo/$ID.metainfo.xml" >&2 || fail "metainfo"
for size in 48 256; do
  # A PNG's width and height follow its 16-byte signature and chunk header.
  [ "$(od -An -tu4 --endian=big -j16 -N8 "$PREFIX/share/icons/hicolor/${size}x${size}/apps/$ID.png" |
    tr -s ' ')" = " $size $size" ] || fail "the ${size}x${size} icon has another size"
done

# The programs run from elsewhere, without the source or build folder.
VERSION="$(cd / && "$PREFIX/bin/tachora-cli" --version | awk '{print $2}')"
[ -n "$VERSION" ] || fail "tachora-cli --version"
(cd / && "$PREFIX/bin/tachora-cli" render --help | grep -q -- '--layout') ||
  fail "tachora-cli render does not find its render program"
[ "$(cd / && env -u DISPLAY -u WAYLAND_DISPLAY "$PREFIX/bin/tachora" --version)" = "tachora $VERSION" ] ||
  fail "tachora --version"
for page in tachora tachora-cli; do
  grep -q '^\.SH DESCRIPTION' "$PREFIX/share/man/man1/$page.1" || fail "$page.1 has no description"
done
grep -q '^\.SH "JSON OUTPUT"' "$PREFIX/share/man/man1/tachora-cli.1" || fail "tachora-cli.1 lacks JSON keys"
bash -c "source '$PREFIX/share/bash-completion/completions/tachora-cli' && complete -p tachora-cli" \
  >/dev/null || fail "the bash completion does not load"

# The Debian package.
(cd "$BUILD" && cpack -G DEB -B "$WORK/package" >/dev/null 2>&1) || fail "cpack failed"
ARCH="$(dpkg --print-architecture)"
DEB="$WORK/package/tachora_${VERSION}_${ARCH}.deb"
[ -f "$DEB" ] || fail "no $(basename "$DEB")"
diff <(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort) \
  <(expected_list "") || fail "the package's files differ (< package, > expected)"
[ "$(dpkg-deb -f "$DEB" Package)" = tachora ] || fail "package name"
[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "package version"
DEPENDS="$(dpkg-deb -f "$DEB" Depends)"
for need in libc6 libmpv2 libqt6widgets6 libqt6webenginecore6 qt6-qpa-plugins; do
  [[ ", $DEPENDS," == *", $need "* || ", $DEPENDS," == *", $need,"* ]] ||
    fail "Depends lacks $need: $DEPENDS"
done
echo "check-install: $(basename "$DEB"), ${#EXPECTED[@]} files, Depends: $DEPENDS"
