#!/usr/bin/env bash
# Makes the README's picture of the main window playing: the demo card is
# made and opened (--demo) under Xvfb in a throw-away home folder, and the
# screen is taken once the trip has played a few seconds.
#   scripts/screenshot.sh [TACHORA_BINARY] [OUT.png]
# Needs xvfb-run, ImageMagick's import and convert, and ffmpeg for the card.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="$(realpath "${1:-$ROOT/build/release/gui/tachora}")"
OUT="$(realpath -m "${2:-$ROOT/build/release/docs/main-window.png}")"
WAIT="${TACHORA_SCREENSHOT_WAIT:-12}"
[ -x "$BIN" ] || { echo "screenshot: no program at $BIN" >&2; exit 1; }
mkdir -p "$(dirname "$OUT")"
HOME_DIR="$(mktemp -d)"
trap 'rm -rf "$HOME_DIR"' EXIT

cat >"$HOME_DIR/take.sh" <<'INNER'
#!/usr/bin/env bash
set -u
"$BIN" --demo >"$HOME/tachora.log" 2>&1 &
pid=$!
# The card is made first (ffmpeg), then the trip opens and plays.
for _ in $(seq 1 120); do
  [ -d "$HOME/.cache/tachora/demo/DCIM" ] && break
  sleep 1
done
sleep "$WAIT"
import -window root "$HOME/screen.png"
kill "$pid"
wait "$pid" 2>/dev/null
exit 0
INNER
chmod +x "$HOME_DIR/take.sh"
env -i PATH="$PATH" HOME="$HOME_DIR" BIN="$BIN" WAIT="$WAIT" TZ=UTC LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$HOME_DIR" QTWEBENGINE_DISABLE_SANDBOX=1 \
  QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" \
  xvfb-run -a -s "-screen 0 1280x800x24" "$HOME_DIR/take.sh"
# Xvfb has no window manager: the black around the window goes.
convert "$HOME_DIR/screen.png" -trim +repage "$OUT"
echo "$OUT"
