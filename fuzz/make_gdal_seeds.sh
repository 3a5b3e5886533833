#!/usr/bin/env bash
# Makes the seed corpora of the GDAL reader's fuzz targets: small TIFFs of every compression,
# layout and depth the program reads (tests/data/gdal/tiff) and PNGs of every colour type
# (tests/data/gdal/png), from one picture of 40 × 30 pixels. Needs gdal-bin (scripts/setup --bench)
# and python3-pil; the files are committed, so that the fuzz runs need neither.
set -euo pipefail
cd "$(dirname "$0")/.."
tiff=tests/data/gdal/tiff
png=tests/data/gdal/png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$tiff" "$png"

/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
rgb = Image.new("RGB", (40, 30))
rgb.putdata([((x * 6) % 256, (y * 8) % 256, ((x + y) * 5) % 256) for y in range(30) for x in range(40)])
rgb.save(f"{work}/rgb.png")
rgb.convert("L").save(f"{work}/grey.png")
rgb.convert("1").save(f"{work}/mono.png")
rgb.quantize(16).save(f"{work}/palette16.png")
rgb.quantize(200).save(f"{work}/palette.png")
rgb.convert("RGBA").save(f"{work}/rgba.png")
rgb.convert("LA").save(f"{work}/grey-alpha.png")
rgb.save(f"{work}/interlaced.png", interlace=1)
rgb.convert("L").convert("I").point(lambda v: v * 257).save(f"{work}/grey16.png")
PY

translate() { gdal_translate -q "$@"; rm -f "${@: -1}.aux.xml"; }
for source in rgb grey palette; do
  for compression in NONE LZW DEFLATE PACKBITS; do
    translate -co COMPRESS=$compression "$work/$source.png" "$tiff/$source-${compression,,}-strips.tif"
    translate -co COMPRESS=$compression -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 \
      "$work/$source.png" "$tiff/$source-${compression,,}-tiles.tif"
  done
done
translate -co COMPRESS=JPEG "$work/rgb.png" "$tiff/rgb-jpeg.tif"
translate -co COMPRESS=JPEG -co PHOTOMETRIC=YCBCR -co TILED=YES -co BLOCKXSIZE=16 \
  -co BLOCKYSIZE=16 "$work/rgb.png" "$tiff/rgb-ycbcr-tiles.tif"
translate -co NBITS=1 -co COMPRESS=CCITTFAX4 "$work/mono.png" "$tiff/mono-fax4.tif"
translate -co NBITS=1 -co COMPRESS=PACKBITS "$work/mono.png" "$tiff/mono-packbits.tif"
translate -co NBITS=4 "$work/palette16.png" "$tiff/palette4.tif"
translate -ot UInt16 -scale 0 255 0 65535 -co COMPRESS=LZW "$work/rgb.png" "$tiff/rgb16-lzw.tif"
translate -ot UInt16 -co NBITS=12 "$work/grey.png" "$tiff/grey12.tif"
translate -co BIGTIFF=YES -co COMPRESS=DEFLATE "$work/rgb.png" "$tiff/rgb-bigtiff.tif"
translate -co PHOTOMETRIC=CMYK "$work/rgba.png" "$tiff/cmyk.tif"
translate -co ALPHA=YES "$work/rgba.png" "$tiff/rgba.tif"
translate -co INTERLEAVE=BAND -co COMPRESS=LZW "$work/rgb.png" "$tiff/rgb-bands.tif"
translate -co BLOCKYSIZE=30 -co COMPRESS=LZW "$work/rgb.png" "$tiff/rgb-one-strip.tif"
cp "$work"/*.png "$png/"
