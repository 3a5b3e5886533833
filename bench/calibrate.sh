#!/usr/bin/env bash
# End-to-end calibration (read, calibrate, save) of velmora-cli against an OpenCV pipeline doing
# the same job (imread, a two-channel float map built per cell, remap with nearest, imwrite), on
# generated 8000×6000 rasters of 8 and 24 bits with a grid of 10×10 cells (11×11 nodes), every
# node displaced. The peer runs twice: with OpenCV's threads on both cores, the strongest
# configuration a user would pick, and on one thread. Also the peak resident memory of each, with
# velmora's default cache of 5120 KB (the rasters are 9 and 28 times larger than it).
#
#   bench/calibrate.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON and OpenCV installed (scripts/setup --bench;
# default build/bench, built here when missing); DATA_DIR receives the rasters (default
# build/bench-data). Each time is the median of ROUNDS runs (default 5) taken in turn within this
# one run of the script, after a warm-up; a ratio is the peer's median time over ours (above 1:
# we are faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
data=${2:-build/bench-data}
rounds=${3:-5}

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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
# Runs a command under /usr/bin/time; prints "seconds peak-KB".
measure() {
  /usr/bin/time -f '%e %M' -o "$data/time.txt" "$@" >/dev/null
  cat "$data/time.txt"
}

printf '%-7s %8s %9s %9s | %9s %9s | %10s %10s\n' raster velmora 'opencv-2' 'opencv-1' \
  'vs 2 thr' 'vs 1 thr' 'velmora MB' 'opencv MB'
for bits in 8 24; do
  file=$data/calibrate-$bits.bmp
  [[ -f $file ]] || python3 bench/make_raster.py "$file" 8000 6000 "$bits"
  ours=() two=() one=() ourKb=0 theirKb=0
  ourCommand=("$cli" calibrate "$file" "$data/out.bmp" --grid "$data/grid.json" --quiet)
  "${ourCommand[@]}"
  "$peer" "$file" "$data/peer.bmp" "$data/grid.txt" 2
  for ((i = 0; i < rounds; ++i)); do
    read -r t kb < <(measure "${ourCommand[@]}")
    ours+=("$t"); ((kb > ourKb)) && ourKb=$kb
    read -r t kb < <(measure "$peer" "$file" "$data/peer.bmp" "$data/grid.txt" 2)
    two+=("$t"); ((kb > theirKb)) && theirKb=$kb
    read -r t kb < <(measure "$peer" "$file" "$data/peer.bmp" "$data/grid.txt" 1)
    one+=("$t")
  done
  a=$(median "${ours[@]}") b=$(median "${two[@]}") c=$(median "${one[@]}")
  printf '%-7s %7ss %8ss %8ss | %9s %9s | %10s %10s\n' "$bits-bit" "$a" "$b" "$c" \
    "$(ratio "$a" "$b")" "$(ratio "$a" "$c")" "$((ourKb / 1024))" "$((theirKb / 1024))"
  rm -f "$data/out.bmp" "$data/peer.bmp"
done
echo "(velmora's peak must stay below the cache plus 64 MB: $((5120 / 1024 + 64)) MB)"
