#!/usr/bin/env bash
# The Debian package: built by CPack from the build tree, unpacked into a
# scratch root, its binary converts and undoes the bundled sample and reports
# the package's version, its files are where Debian wants them, and lintian
# finds no error. usage: BUILD_DIR SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$1"; exit 1; }

(cd "$1" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg-deb -x "$deb" "$work/root"
tool="$work/root/usr/bin/morvak_fragflat"
[ "$("$tool" --version)" = "morvak_fragflat $(dpkg-deb -f "$deb" Version)" ] || fail "--version: not the package's"
for f in man/man1/morvak_fragflat.1.gz doc/morvak-fragflat/{copyright,README.md,changelog.gz}; do
  [ -f "$work/root/usr/share/$f" ] || fail "missing from the package: /usr/share/$f"
done
file "$tool" | grep -q ', stripped' || fail "the binary is not stripped"
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "no computed dependencies"

cp "$2/tests/data/sample.mp4" "$work/sample.mp4"
"$tool" -f "$work/sample.mp4"
! cmp -s "$work/sample.mp4" "$2/tests/data/sample.mp4" || fail "the sample was not converted"
"$tool" --undo -f "$work/sample.mp4"
cmp "$work/sample.mp4" "$2/tests/data/sample.mp4"
report=$(lintian --fail-on error "$deb" 2>&1) || fail "$report"
