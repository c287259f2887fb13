#!/usr/bin/env bash
# Runs ui_snapshots into a fresh folder and checks that every named window
# state was written as a PNG that is not empty. A reviewer looks at the
# pictures; this only makes sure they are there.
# Usage: check_snapshots.sh <ui_snapshots program> <folder>
set -euo pipefail
program=$1
folder=$2
rm -rf "$folder"
mkdir -p "$folder"
QT_QPA_PLATFORM=offscreen "$program" "$folder" >/dev/null
status=0
for name in main-empty main-input main-conversions main-output-undefined main-output-folder \
            main-output-root main-playing about custom-sample-rates define-conversion alert-new-version log \
            add-files-errors add-files-dialog progress-with-warnings \
            file-info-panel file-info-panel-font file-info-panel-label-color \
            file-info-panel-text-color file-info-panel-background-color; do
  if [ ! -s "$folder/$name.png" ]; then
    echo "missing or empty snapshot: $name.png"
    status=1
  fi
done
# Every picture written, named or not, has something in it.
for f in "$folder"/*.png; do
  [ -s "$f" ] || { echo "empty snapshot: $f"; status=1; }
done
[ $status -eq 0 ] && echo "snapshots: $(ls "$folder"/*.png | wc -l) written"
exit $status
