#!/usr/bin/env bash
# The whole job on a large scanned sheet, a 30000×22000 24-bit LZW TIFF (2 GB of pixels), as the
# program's window does it: open with the pictures that drawing keeps, calibrate over a grid of
# 29×21 cells whose every node is moved, save as a tiled Deflate TIFF. Against gdalwarp doing an
# affine warp of the same file into a tiled Deflate TIFF of the same size with nearest-neighbour
# sampling: as written in its simplest form, and with every core asked for (-multi, NUM_THREADS),
# the strongest configuration a user would pick. Also the peak resident memory of each; ours must
# stay below the raster cache (5120 KB) plus 64 MB plus GDAL's bounded block cache.
#
#   bench/tiff.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON (default build/bench, built here when missing;
# gdalwarp comes with scripts/setup --bench); DATA_DIR receives the sheet (default
# build/bench-data, about 1.3 GB; never committed). Each time is the median of ROUNDS runs
# (default 3) taken in turn within this one run of the script, after a warm-up; a ratio is the
# peer's median time over ours (above 1: we are faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
data=${2:-build/bench-data}
rounds=${3:-3}
width=30000
height=22000

job=$build/bench/calibration/velmora_tiff_job
if [[ ! -x $job ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON \
    -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target velmora_tiff_job >/dev/null
fi
mkdir -p "$data"
sheet=$data/sheet.tif
if [[ ! -f $sheet ]]; then
  /usr/bin/python3 bench/make_sheet.py "$data/sheet.bmp" "$width" "$height"
  gdal_translate -q -co COMPRESS=LZW "$data/sheet.bmp" "$sheet"
  rm "$data/sheet.bmp"
fi

# The printed grid lies every 1000 pixels; its nodes are moved by up to 15 pixels.
python3 - "$data/sheet-grid.json" <<'PY'
import json, random, sys
random.seed(26)
cx, cy, ox, oy, step = 29, 21, 500, 500, 1000
nodes = [{"i": i, "j": j, "x": ox + i * step + random.randint(-15, 15),
          "y": oy + j * step + random.randint(-15, 15)} for j in range(cy + 1) for i in range(cx + 1)]
json.dump({"cells": [cx, cy], "origin": [ox, oy], "step": [step, step], "nodes": nodes},
          open(sys.argv[1], "w"))
PY

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
# Runs a command under /usr/bin/time; prints "seconds peak-KB".
measure() {
  /usr/bin/time -f '%e %M' -o "$data/time.txt" "$@" >/dev/null
  cat "$data/time.txt"
}

ours=("$job" "$sheet" "$data/ours.tif" "$data/sheet-grid.json")
warp=(gdalwarp -q -overwrite -r near -co COMPRESS=DEFLATE -co TILED=YES
  -to SRC_METHOD=NO_GEOTRANSFORM -to DST_METHOD=NO_GEOTRANSFORM
  -ct "+proj=affine +xoff=3.5 +yoff=-2.25 +s11=1.0004 +s12=0.0003 +s21=-0.0002 +s22=0.9995"
  -ts "$width" "$height" -te 0 0 "$width" "$height" "$sheet" "$data/peer.tif")
warpAll=("${warp[@]:0:1}" -multi -wo NUM_THREADS=ALL_CPUS -co NUM_THREADS=ALL_CPUS "${warp[@]:1}")

"${ours[@]}" >/dev/null
"${warp[@]}"
a=() b=() c=() ourKb=0 peerKb=0
for ((i = 0; i < rounds; ++i)); do
  read -r t kb < <(measure "${ours[@]}")
  a+=("$t"); ((kb > ourKb)) && ourKb=$kb
  read -r t kb < <(measure "${warp[@]}")
  b+=("$t"); ((kb > peerKb)) && peerKb=$kb
  read -r t kb < <(measure "${warpAll[@]}")
  c+=("$t")
done
x=$(median "${a[@]}") y=$(median "${b[@]}") z=$(median "${c[@]}")
printf '%-10s %9s %9s %9s | %9s %9s | %10s %10s\n' sheet velmora gdalwarp 'warp-all' \
  'vs warp' 'vs all' 'velmora MB' 'gdalwarp MB'
printf '%-10s %8ss %8ss %8ss | %9s %9s | %10s %10s\n' "${width}x$height" "$x" "$y" "$z" \
  "$(ratio "$x" "$y")" "$(ratio "$x" "$z")" "$((ourKb / 1024))" "$((peerKb / 1024))"
echo "(velmora's peak must stay below the cache plus 64 MB plus GDAL's cache: $((5 + 64 + 4)) MB)"
rm -f "$data/ours.tif" "$data/peer.tif" "$data/time.txt"
