#!/usr/bin/env bash
# Draws the desktop program's icons (PNG files in src/shell/icons/) with
# ImageMagick. The PNGs are committed; run this again only to change them.
#   NAME-SIZE.png: icon NAME (the number or name the menu lookup uses) at SIZE px
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/src/shell/icons"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each design is drawn once at 256 px and scaled down.
draw() {  # name, then ImageMagick drawing arguments
  local name=$1; shift
  convert -size 256x256 xc:none "$@" "$work/$name.png"
}

# Main icon: a sheet of paper with a red wax seal on a blue tile.
draw main \
  -fill '#1f4e8c' -draw 'roundrectangle 8,8 248,248 40,40' \
  -fill white -draw 'polygon 64,36 156,36 196,76 196,220 64,220' \
  -fill '#c8d6ea' -draw 'polygon 156,36 156,76 196,76' \
  -fill '#8a9bb5' -draw 'rectangle 84,86 176,96' -draw 'rectangle 84,110 176,120' -draw 'rectangle 84,134 140,144' \
  -fill '#b3261e' -draw 'circle 160,180 160,226' \
  -fill '#e25b4f' -draw 'circle 160,180 160,206'
# Menu icon: the same tile with three menu lines.
draw menu \
  -fill '#1f4e8c' -draw 'roundrectangle 8,8 248,248 40,40' \
  -fill white -draw 'rectangle 56,64 200,88' -draw 'rectangle 56,116 200,140' -draw 'rectangle 56,168 200,192'
# Start: a green play triangle.
draw start -fill '#2e8b3a' -draw 'polygon 56,24 224,128 56,232'
# Stop: a red square.
draw stop -fill '#c0392b' -draw 'roundrectangle 32,32 224,224 24,24'
# About: a blue disc with an "i" made of a dot and a bar.
draw about \
  -fill '#1f6fc5' -draw 'circle 128,128 128,16' \
  -fill white -draw 'circle 128,76 128,96' -draw 'roundrectangle 110,114 146,204 10,10'
# Quit: a grey power symbol.
draw quit \
  -fill none -stroke '#505050' -strokewidth 30 -draw 'arc 36,44 220,228 -50,230' \
  -fill '#505050' -stroke none -draw 'roundrectangle 113,16 143,128 14,14'

emit() {  # design, icon name, sizes...
  local design=$1 name=$2; shift 2
  for s in "$@"; do
    convert "$work/$design.png" -filter Lanczos -resize "${s}x${s}" -strip \
      -define png:exclude-chunks=date,time "$out/$name-$s.png"
  done
}
emit main 128 64 48 32 24 16
emit menu 103 64 48 32 24 16
emit menu POPUP 64 48 32 24 16
emit start 104 16 24 32 48
emit stop 105 16
emit about 107 16
emit quit 108 16
