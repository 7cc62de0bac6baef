#!/usr/bin/env bash
# Builds the Debian package twice with dpkg-buildpackage, each time from a fresh copy of
# this tree, and checks that the two builds are byte-identical; lints the package and the
# source package with lintian, failing on errors and warnings; installs the package with
# dpkg, checks the installed programs, man pages and completion, converts the demo tape
# with the installed program and removes the package again. Needs root, lintian and the
# Build-Depends of debian/control. Argument: the release build folder that the installed
# program is compared with [build/release].
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

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

# dpkg-buildpackage writes the packages into the parent folder of the tree it builds, so
# every build runs in a copy of its own in a temporary folder. The copy holds the files git
# tracks and new ones it does not ignore: never build/ or an earlier build's leftovers.
mkdir "$work/tree"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$work/tree"
else
  tar --exclude=./build -cf - . | tar -xf - -C "$work/tree"
fi

# Different folders for the two builds, so that a build path that leaks into a file shows.
for run in 1 2; do
  mkdir "$work/$run"
  cp -a "$work/tree" "$work/$run/tonbrix"
  echo "Package build $run in $work/$run"
  if ! (cd "$work/$run/tonbrix" && dpkg-buildpackage -us -uc -b -Jauto) >"$work/build$run.log" 2>&1; then
    tail -n 60 "$work/build$run.log"
    exit 1
  fi
done
debs=("$work"/1/*.deb)
for deb in "${debs[@]}"; do
  cmp "$deb" "$work/2/${deb##*/}"
done
echo "Both builds gave byte-identical packages: ${debs[*]##*/}"

mkdir "$work/source"
cp -a "$work/tree" "$work/source/tonbrix"
(cd "$work/source" && dpkg-source -b tonbrix >/dev/null)
lintian -EvIL +pedantic --fail-on error,warning "$work"/1/tonbrix_*.changes "$work"/source/tonbrix_*.dsc
echo "lintian: no errors, no warnings"

deb=$(ls "$work"/1/tonbrix_*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg -i "$deb"
[[ $(command -v tonbrix) == /usr/bin/tonbrix ]]
[[ $(command -v tonbrix-decode) == /usr/bin/tonbrix-decode ]]
tonbrix -v
tonbrix-decode -v
# debian/changelog names the version the package gets; it must be the program's own.
program_version=$(tonbrix -v | sed -n '1s/^Tonbrix \([^ ]*\) .*/\1/p')
package_version=$(dpkg-deb --field "$deb" Version)
if [[ $package_version != "$program_version" ]]; then
  echo "debian/changelog gives version $package_version, the program says $program_version" >&2
  exit 1
fi
man -w tonbrix
man -w tonbrix-decode
test -f /usr/share/bash-completion/completions/tonbrix
test -f /usr/share/bash-completion/completions/tonbrix-decode
test -f /usr/share/doc/tonbrix/README.md.gz
test -f /usr/share/doc/tonbrix/copyright

# The installed program must produce what the build tree's program produces.
cmake --preset release >/dev/null
cmake --build "$build" -j2 --target tonbrix
tonbrix -o "$work/installed.wav" /usr/share/doc/tonbrix/examples/demo.img >/dev/null
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
echo "The .deb builds reproducibly, lints clean, installs, works and removes cleanly."
