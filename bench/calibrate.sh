#!/usr/bin/env bash
# End-to-end calibration (read, calibrate, save) by velmora-cli against an OpenCV pipeline doing
# the same job on two threads (imread, a two-channel float map built per cell, remap with
# nearest, imwrite) and against a durable copy of the same file (cp, then sync: what a save
# promises), on generated rasters of 8 and 24 bits: 8000×6000 with the default cache of 5120 KB,
# and 20000×15000 with a cache of a tenth of the raster. The grid has 10×10 cells over most of the
# raster, every node displaced by up to 2 % of a cell. Then, against the same durable copy, the
# calibration clipped to the sheet's frame (--clip with a grid of one cell inside a border of a
# fortieth of the raster, the output 90 % of it) and the raster saved as a copy (convert); and where
# the time of the calibration goes, stage by stage (calibrate_phases).
#
#   bench/calibrate.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON and OpenCV installed (scripts/setup --bench;
# default build/bench, built here when missing); DATA_DIR receives the rasters (default
# build/bench-data, about 1.6 GB). Each time is the median of ROUNDS runs (default 5) taken in
# turn within this one run of the script, after a warm-up, each command's output removed and the
# system's dirty pages written before its run. "vs opencv" is OpenCV's time over ours (above 1: we
# are faster); "vs copy" is our time over the copy's (below 1: we are faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
data=${2:-build/bench-data}
rounds=${3:-5}

if [[ ! -x $build/bench/calibration/opencv_calibrate_peer ||
  ! -x $build/bench/calibration/calibrate_phases ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON \
    -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 >/dev/null
fi
cli=$build/src/cli/velmora-cli
peer=$build/bench/calibration/opencv_calibrate_peer
phases=$build/bench/calibration/calibrate_phases
mkdir -p "$data"

# The grid of a raster: CELLS×CELLS cells inside a border of a fortieth of the raster, every node
# moved by up to 2 % of a cell, the same for every run (JSON for velmora, TXT for the peer).
make_grid() {
  python3 - "$@" <<'PY'
import json, random, sys
json_file, txt_file = sys.argv[1], sys.argv[2]
width, height, cells = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
random.seed(11)
cx, cy = cells, cells
ox, oy = width // 40, height // 40
sx, sy = (width - 2 * ox) // cx, (height - 2 * oy) // cy
rx, ry = sx // 50, sy // 50
nodes = [{"i": i, "j": j, "x": ox + i * sx + random.randint(-rx, rx),
          "y": oy + j * sy + random.randint(-ry, ry)} for j in range(cy + 1) for i in range(cx + 1)]
json.dump({"cells": [cx, cy], "origin": [ox, oy], "step": [sx, sy], "nodes": nodes},
          open(json_file, "w"))
with open(txt_file, "w") as f:
    f.write(f"{cx} {cy} {ox} {oy} {sx} {sy}\n")
    f.writelines(f"{n['i']} {n['j']} {n['x']} {n['y']}\n" for n in nodes)
PY
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Runs a command whose output is the file named first, after removing that file and writing the
# system's dirty pages; prints "seconds peak-KB". The time is the shell's clock around the run, to
# the millisecond: the hundredths time gives would make a ratio of runs of some 50 ms uncertain
# by a fifth.
measure() {
  local out=$1
  shift
  rm -f "$out"
  sync
  local start=${EPOCHREALTIME/,/.}
  /usr/bin/time -f '%M' -o "$data/time.txt" "$@" >/dev/null
  local end=${EPOCHREALTIME/,/.}
  awk -v a="$start" -v b="$end" -v kb="$(cat "$data/time.txt")" \
    'BEGIN { printf "%.3f %d\n", b - a, kb }'
}

# label width height bits cache-KB
rasters=(
  "8000x6000 8000 6000 8 5120"
  "8000x6000 8000 6000 24 5120"
  "20000x15000 20000 15000 8 29297"
  "20000x15000 20000 15000 24 87891"
)

printf '%-18s %8s %9s %8s | %9s %7s | %10s %8s %9s\n' raster velmora opencv-2 'cp+sync' \
  'vs opencv' 'vs copy' 'velmora MB' 'limit MB' 'opencv MB'
others=()
for entry in "${rasters[@]}"; do
  read -r label width height bits cache <<<"$entry"
  file=$data/calibrate-$label-$bits.bmp
  [[ -f $file ]] || python3 bench/make_raster.py "$file" "$width" "$height" "$bits"
  grid=$data/grid-$label
  make_grid "$grid.json" "$grid.txt" "$width" "$height" 10
  make_grid "$grid-frame.json" "$grid-frame.txt" "$width" "$height" 1
  ours=("$cli" calibrate "$file" "$data/out.bmp" --grid "$grid.json" --cache "$cache" --quiet)
  clip=("$cli" calibrate "$file" "$data/clip.bmp" --grid "$grid-frame.json" --cache "$cache"
    --clip --quiet)
  convert=("$cli" convert "$file" "$data/convert.bmp" --cache "$cache" --quiet)
  theirs=("$peer" "$file" "$data/peer.bmp" "$grid.txt" 2)
  copy=(sh -c "cp '$file' '$data/copy.bmp' && sync")
  cat "$file" >/dev/null
  "${ours[@]}" && "${theirs[@]}" && "${clip[@]}" && "${convert[@]}" && "${copy[@]}"
  t_ours=() t_theirs=() t_copy=() t_clip=() t_convert=() kb_ours=0 kb_theirs=0
  for ((i = 0; i < rounds; ++i)); do
    read -r t kb < <(measure "$data/out.bmp" "${ours[@]}")
    t_ours+=("$t")
    ((kb > kb_ours)) && kb_ours=$kb
    read -r t kb < <(measure "$data/peer.bmp" "${theirs[@]}")
    t_theirs+=("$t")
    ((kb > kb_theirs)) && kb_theirs=$kb
    read -r t kb < <(measure "$data/copy.bmp" "${copy[@]}")
    t_copy+=("$t")
    read -r t kb < <(measure "$data/clip.bmp" "${clip[@]}")
    t_clip+=("$t")
    read -r t kb < <(measure "$data/convert.bmp" "${convert[@]}")
    t_convert+=("$t")
  done
  a=$(median "${t_ours[@]}") b=$(median "${t_theirs[@]}") c=$(median "${t_copy[@]}")
  printf '%-18s %7ss %8ss %7ss | %9s %7s | %10s %8s %9s\n' "$label $bits-bit" "$a" "$b" "$c" \
    "$(over "$b" "$a")" "$(over "$a" "$c")" "$((kb_ours / 1024))" "$((cache / 1024 + 64))" \
    "$((kb_theirs / 1024))"
  others+=("$(printf '%-18s %7ss %8ss %7ss | %9s %9s' "$label $bits-bit" \
    "$(median "${t_clip[@]}")" "$(median "${t_convert[@]}")" "$c" \
    "$(over "$(median "${t_clip[@]}")" "$c")" "$(over "$(median "${t_convert[@]}")" "$c")")")
  rm -f "$data/out.bmp" "$data/peer.bmp" "$data/copy.bmp" "$data/clip.bmp" "$data/convert.bmp"
done

echo
printf '%-18s %8s %9s %8s | %9s %9s\n' raster clip convert 'cp+sync' 'clip/copy' 'conv/copy'
printf '%s\n' "${others[@]}"

# Where the time goes: each stage alone, in one run, wall and processor seconds (the processor
# time of every thread; stages on both cores can take more of it than of the clock).
echo
echo "where the time of the calibration goes (8000x6000; seconds: wall / processor):"
stages=(open read map compute write sync total)
printf '  %-8s' stage
for bits in 8 24; do printf ' %17s' "$bits-bit"; done
echo
declare -A figures
for bits in 8 24; do
  while read -r stage wall cpu; do
    figures[$stage-$bits]="$wall / $cpu"
  done < <("$phases" "$data/calibrate-8000x6000-$bits.bmp" "$data/grid-8000x6000.json" \
    "$data/phases.bmp")
done
rm -f "$data/phases.bmp"
for stage in "${stages[@]}"; do
  printf '  %-8s' "$stage"
  for bits in 8 24; do printf ' %17s' "${figures[$stage-$bits]}"; done
  echo
done
cat <<'NOTE'
  open: headers and parts in memory; read: every source byte once; map: the per-cell mapping of
  every row; compute: mapping and gathering into memory, both cores; write: into the file and its
  write-back begun; sync: the file made durable. The command overlaps them: writing a band while
  the next is made, the system putting bands on the disk meanwhile; total is the whole job.
NOTE
echo "(velmora's peak must stay below the cache plus 64 MB, the limit column)"
