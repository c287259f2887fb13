#!/usr/bin/env bash
# Checks the desktop integration: the desktop entry validates, the MIME package
# maps *.xwl to the log type, and the build drew every hicolor icon the entry
# and the package name. Usage: check_desktop.sh <source dir> <build dir>
# Exits 77 (skipped) when the desktop tools are missing.
set -euo pipefail
src=$1
build=$2
for tool in desktop-file-validate update-mime-database; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
done
desktop="$src/src/app/desktop/org.corvane.Corvane.desktop"
desktop-file-validate "$desktop"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/mime/packages"
cp "$src/src/app/desktop/org.corvane.Corvane.xml" "$tmp/mime/packages/"
[ -f /usr/share/mime/packages/freedesktop.org.xml ] &&
  cp /usr/share/mime/packages/freedesktop.org.xml "$tmp/mime/packages/"
update-mime-database "$tmp/mime" >/dev/null 2>&1
grep -q '^50:application/x-corvane-log:\*\.xwl$' "$tmp/mime/globs2" ||
  { echo "*.xwl is not mapped to application/x-corvane-log"; exit 1; }
grep -q '^50:audio/x-caf:\*\.caf$' "$tmp/mime/globs2" ||
  { echo "*.caf is not mapped to audio/x-caf"; exit 1; }
grep -q 'application/x-corvane-log' "$tmp/mime/generic-icons" "$tmp/mime/icons" 2>/dev/null ||
  grep -q 'application-x-corvane-log' "$tmp/mime/application/x-corvane-log.xml" ||
  { echo "the log type has no icon"; exit 1; }

icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 24 32 48 64 128 256; do
  for f in "apps/$icon.png" "mimetypes/application-x-corvane-log.png"; do
    path="$build/src/app/icons/hicolor/${size}x${size}/$f"
    [ -s "$path" ] || { echo "missing icon $path"; exit 1; }
  done
done
echo "desktop integration: ok"
