#!/bin/sh
# Renders the PNG sizes of the icon from tallvero.svg (needs rsvg-convert,
# Debian package librsvg2-bin). The PNGs are committed, so building and
# packaging do not need it.
set -eu
cd "$(dirname "$0")"
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "$n"
  rsvg-convert -w "$n" -h "$n" tallvero.svg -o "$n/tallvero.png"
done
