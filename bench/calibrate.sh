#!/usr/bin/env bash
# End-to-end calibration (read, calibrate, save) of velmora-cli against an OpenCV pipeline doing
# the same job (imread, per-pixel map of the same cell-by-cell mapping, remap with nearest, imwrite),
# on generated 8000×6000 rasters of 8 and 24 bits with a 10×10 grid of displaced nodes. Also the
# peak resident memory of both.
#
#   bench/calibrate.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON and OpenCV installed (scripts/setup --bench;
# default build/bench, built here when missing); DATA_DIR receives the rasters (default
# build/bench-data). Each time is the median of ROUNDS runs (default 3) of this one run of the
# script; the ratio is the peer's time over ours (above 1: we are faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
data=${2:-build/bench-data}
rounds=${3:-3}

if [[ ! -x $build/bench/calibration/opencv_calibrate_peer ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON \
    -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 >/dev/null
fi
cli=$build/src/cli/velmora-cli
peer=$build/bench/calibration/opencv_calibrate_peer
mkdir -p "$data"

# The grid: 10×10 cells of 760×570 pixels from (200, 150), every node moved by up to 15 pixels.
python3 - "$data/grid.json" "$data/grid.txt" <<'PY'
import json, random, sys
random.seed(11)
cx, cy, ox, oy, sx, sy = 10, 10, 200, 150, 760, 570
nodes = [{"i": i, "j": j, "x": ox + i * sx + random.randint(-15, 15),
          "y": oy + j * sy + random.randint(-15, 15)} for j in range(cy + 1) for i in range(cx + 1)]
json.dump({"cells": [cx, cy], "origin": [ox, oy], "step": [sx, sy], "nodes": nodes},
          open(sys.argv[1], "w"))
with open(sys.argv[2], "w") as f:
    f.write(f"{cx} {cy} {ox} {oy} {sx} {sy}\n")
    f.writelines(f"{n['i']} {n['j']} {n['x']} {n['y']}\n" for n in nodes)
PY

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Runs a command under /usr/bin/time; prints "seconds peak-KB".
measure() {
  /usr/bin/time -f '%e %M' -o "$data/time.txt" "$@" >/dev/null
  cat "$data/time.txt"
}

printf '%-8s %10s %10s %8s | %12s %12s\n' raster velmora opencv ratio 'velmora KB' 'opencv KB'
for bits in 8 24; do
  file=$data/calibrate-$bits.bmp
  [[ -f $file ]] || python3 bench/make_raster.py "$file" 8000 6000 "$bits"
  ours=() theirs=() ourKb=0 theirKb=0
  "$cli" calibrate "$file" "$data/out.bmp" --grid "$data/grid.json" --quiet  # warm-up
  for ((i = 0; i < rounds; ++i)); do
    read -r t kb < <(measure "$cli" calibrate "$file" "$data/out.bmp" --grid "$data/grid.json" --quiet)
    ours+=("$t"); ((kb > ourKb)) && ourKb=$kb
    read -r t kb < <(measure "$peer" "$file" "$data/peer.bmp" "$data/grid.txt")
    theirs+=("$t"); ((kb > theirKb)) && theirKb=$kb
  done
  a=$(median "${ours[@]}") b=$(median "${theirs[@]}")
  printf '%-8s %9ss %9ss %8.2f | %12s %12s\n' "$bits-bit" "$a" "$b" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN { print b / a }')" "$ourKb" "$theirKb"
  rm -f "$data/out.bmp" "$data/peer.bmp"
done
