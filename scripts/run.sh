#!/usr/bin/env bash
# Installs what is missing, builds the viewer (Release) and starts it with the
# given paths (files, folders, or --demo for a generated demo card).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TACHORA_BUILD_DIR:-$ROOT/build/release}"

"$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target tachora
exec "$BUILD/gui/tachora" "$@"
