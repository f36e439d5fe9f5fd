#!/bin/sh
# Renders the sample maps with thumb's command line and lists the thumbnails it wrote.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
thumb="${THUMB:-$root/build/release/thumb/thumb}"
out="${1:-$root/build/demo-thumb}"
[ -x "$thumb" ] || { echo "demo-thumb: build Release first ($thumb is missing)" >&2; exit 1; }
mkdir -p "$out"
"$thumb" -o "$out" "$root"/samples/maps/*.ivm
echo "thumb wrote these thumbnails (160 x 160, 24-bit BMP):"
for f in "$out"/*.bmp; do
    echo "  $f ($(wc -c < "$f") bytes)"
done
