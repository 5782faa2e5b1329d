#!/usr/bin/env bash
# Renders the station's icon (packaging/icons/org.quorbus.Station.svg) into the PNG sizes a
# desktop's icon theme looks for (packaging/icons/hicolor/NxN/apps/). Run it after changing the
# SVG and commit the PNG files with it; the build installs them as they are. Needs rsvg-convert
# (package librsvg2-bin).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ICONS="$ROOT/packaging/icons"
SVG="$ICONS/org.quorbus.Station.svg"

for size in 16 22 24 32 48 64 128 256; do
  folder="$ICONS/hicolor/${size}x${size}/apps"
  mkdir -p "$folder"
  rsvg-convert --width "$size" --height "$size" "$SVG" --output "$folder/org.quorbus.Station.png"
done
