#!/usr/bin/env bash
# Builds the page with the web preset and runs the browser tests in headless Chromium.
# The tests compare the page with the native programs: their paths come from
# TONBRIX_BINARY and TONBRIX_DECODE_BINARY, or they are built in build/release.
set -euo pipefail
cd "$(dirname "$0")/.."

# Without the toolchain or the browser there is nothing to run: 77 tells CTest "skipped".
for tool in emcc node npm /usr/bin/chromium; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "Skipping the browser tests: $tool is missing (.ci/run installs it)."
    exit 77
  fi
done

export NODE_PATH=/usr/share/nodejs
cmake --workflow --preset web

if [ -z "${TONBRIX_BINARY:-}" ] || [ -z "${TONBRIX_DECODE_BINARY:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tonbrix tonbrix-decode
fi

cd web/tests
# The tests drive the system's Chromium: no browser download, ever.
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund
node --test --test-concurrency=1
