#!/bin/sh
# Renders skov-import.ico (16 to 256 pixels) from the program's SVG icon.
# Needs: librsvg2-bin (rsvg-convert), imagemagick (convert). Run after the SVG changed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
pngs=""
for size in 16 20 24 32 40 48 64 256; do
  rsvg-convert -w "$size" -h "$size" "$here/../skov-import.svg" -o "$scratch/$size.png"
  pngs="$pngs $scratch/$size.png"
done
# shellcheck disable=SC2086
convert $pngs "$here/skov-import.ico"
