#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   0. every tracked .cpp/.h is formatted as .clang-format says;
#   1. Release build: core, CLI and GUI tests (GUI ones under xvfb-run);
#      then an install into a temporary prefix and the Debian package checked;
#   2. the core tests again in a sanitizer build (address, leak, undefined);
#   3. each libFuzzer target for a short while (clang).
# Set TACHORA_FUZZ_SECONDS to change how long each fuzzer runs (0 skips them).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${TACHORA_TEST_BUILD_ROOT:-$ROOT/build}"
FUZZ_SECONDS="${TACHORA_FUZZ_SECONDS:-30}"
JOBS="$(nproc)"
LOG="$(mktemp)"
trap 'rm -f "$LOG"' EXIT

"$ROOT/scripts/install-deps.sh"
export TZ="${TZ:-UTC}"
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"

echo "== Formatting"
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$ROOT" ls-files -z -- '*.cpp' '*.h' | (cd "$ROOT" && xargs -0 clang-format --dry-run --Werror)
else
  find "$ROOT" -path "$OUT" -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
fi

echo "== Release build and tests"
cmake -S "$ROOT" -B "$OUT/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$OUT/release" -j "$JOBS"
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --test-dir "$OUT/release" --output-on-failure -j "$JOBS" --timeout 600 | tee -a "$LOG"

echo "== Installation and package"
"$ROOT/scripts/check-install.sh" "$OUT/release"

echo "== Core tests in the sanitizer build"
cmake -S "$ROOT" -B "$OUT/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTACHORA_SANITIZE=ON -DTACHORA_GUI=OFF -DTACHORA_BENCH=OFF >/dev/null
cmake --build "$OUT/sanitize" -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$OUT/sanitize" --output-on-failure -j "$JOBS" -L core --timeout 900 | tee -a "$LOG"

if [ "$FUZZ_SECONDS" -gt 0 ]; then
  echo "== Fuzzing, ${FUZZ_SECONDS}s per target"
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$OUT/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTACHORA_FUZZ=ON -DTACHORA_GUI=OFF -DTACHORA_TESTS=OFF -DTACHORA_BENCH=OFF >/dev/null
  cmake --build "$OUT/fuzz" -j "$JOBS"
  "$ROOT/fuzz/run-fuzzers.sh" "$OUT/fuzz" "$FUZZ_SECONDS"
fi
# One closing line over both ctest runs: "N passed, N failed".
read -r passed failed < <(awk '/tests failed out of/ {
    for (i = 1; i <= NF; i++) { if ($i == "failed") f += $(i-2); if ($i == "of") t += $(i+1) }
  } END { print t - f, f + 0 }' "$LOG")
echo "== All tests passed"
echo "${passed} passed, ${failed} failed"
