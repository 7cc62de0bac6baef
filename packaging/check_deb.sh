#!/usr/bin/env bash
# Builds the .deb from a release build, installs it with dpkg, checks the installed
# programs, man pages and completion, converts the demo tape with the installed program
# and removes the package again. Needs root. Argument: the build folder [build/release].
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

cmake --preset release >/dev/null
cmake --build "$build" -j2 --target tonbrix tonbrix-decode
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tonbrix_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Depends

if dpkg -s tonbrix >/dev/null 2>&1; then
  echo "tonbrix is already installed; not touching it" >&2
  exit 1
fi
work=$(mktemp -d)
cleanup() {
  dpkg -r tonbrix >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

dpkg -i "$deb"
[[ $(command -v tonbrix) == /usr/bin/tonbrix ]]
[[ $(command -v tonbrix-decode) == /usr/bin/tonbrix-decode ]]
tonbrix -v
tonbrix-decode -v
man -w tonbrix
man -w tonbrix-decode
test -f /usr/share/bash-completion/completions/tonbrix
test -f /usr/share/bash-completion/completions/tonbrix-decode
test -f /usr/share/doc/tonbrix/README.md
test -f /usr/share/doc/tonbrix/LICENSE

# The installed program must produce what the build tree's program produces.
tonbrix -o "$work/installed.wav" examples/demo.img >/dev/null
"$build/tonbrix" -o "$work/built.wav" examples/demo.img >/dev/null
cmp "$work/installed.wav" "$work/built.wav"
tonbrix-decode -o "$work/back.img" "$work/installed.wav" >/dev/null
cmp "$work/back.img" examples/demo.img

dpkg -r tonbrix
trap 'rm -rf "$work"' EXIT
if [[ -e /usr/bin/tonbrix ]] || man -w tonbrix >/dev/null 2>&1; then
  echo "dpkg -r left tonbrix behind" >&2
  exit 1
fi
echo "The .deb installs, works and removes cleanly."
