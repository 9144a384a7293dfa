#!/usr/bin/env bash
# The Debian package: built by CPack from the build tree, unpacked into a
# scratch root, its binary converts and undoes the bundled sample and reports
# the package's version, its files are where Debian wants them, and lintian
# finds no error. usage: BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg-deb -x "$deb" "$work/root"
version=$(dpkg-deb -f "$deb" Version)
tool="$work/root/usr/bin/morvak_fragflat"

[ "$("$tool" --version)" = "morvak_fragflat $version" ] || { echo "--version does not say $version"; exit 1; }
for f in usr/share/man/man1/morvak_fragflat.1.gz usr/share/doc/morvak-fragflat/copyright \
         usr/share/doc/morvak-fragflat/README.md usr/share/doc/morvak-fragflat/changelog.gz; do
  [ -f "$work/root/$f" ] || { echo "missing from the package: /$f"; exit 1; }
done
file "$tool" | grep -q ', stripped' || { echo "the binary is not stripped"; exit 1; }
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || { echo "no computed dependencies"; exit 1; }

cp "$src/tests/data/sample.mp4" "$work/sample.mp4"
"$tool" -f "$work/sample.mp4"
! cmp -s "$work/sample.mp4" "$src/tests/data/sample.mp4" || { echo "the sample was not converted"; exit 1; }
"$tool" --undo -f "$work/sample.mp4"
cmp "$work/sample.mp4" "$src/tests/data/sample.mp4"

report=$(lintian --fail-on error "$deb" 2>&1) || { echo "$report"; exit 1; }
