#!/usr/bin/env bash
# How busy velmora-cli batch keeps the cores: an archive of 40 small sheets (3000×3000, done
# several at once, a process on each core) and one of 3 large sheets (16000×16000, 256 MB each,
# done one after another, each on every core). For each, the wall time and the processor time of
# the whole batch; "cores busy" is processor time over wall time (2 on two cores that never wait;
# what is missing is the time the disk takes to make the results durable). Both archives also run
# the other way (small with --jobs 1, large with --jobs 2), and the ratio of the wall times is
# given (above 1: the default is faster).
#
#   bench/batch.sh [BUILD_DIR] [DATA_DIR]
#
# BUILD_DIR holds a release build (default build/release, built here when missing); DATA_DIR
# receives the sheets (default build/bench-batch).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
data=${2:-build/bench-batch}
cli=$build/src/cli/velmora-cli
if [[ ! -x $cli ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target velmora-cli >/dev/null
fi
mkdir -p "$data"

# A sheet: a kilometre grid of CELLS × CELLS cells of STEP pixels, turned a little, on grey paper
# (Pillow draws it); the grid file of the series, with map coordinates.
make_archive() {
  python3 - "$data/$1" "$2" "$3" "$4" "$5" <<'PY'
import json, os, sys
from PIL import Image, ImageDraw
folder, count, size, cells, step = sys.argv[1], *map(int, sys.argv[2:])
os.makedirs(folder, exist_ok=True)
origin = (size - cells * step) // 2
rows = ["scan,grid,output,x,y"]
for k in range(count):
    image = Image.new("L", (size, size), 235)
    draw = ImageDraw.Draw(image)
    turn = k % 5 - 2
    for i in range(cells + 1):
        p = origin + i * step
        draw.line([(p + turn, 0), (p - turn, size - 1)], fill=20, width=3)
        draw.line([(0, p - turn), (size - 1, p + turn)], fill=20, width=3)
    name = f"sheet{k:02d}.bmp"
    image.save(os.path.join(folder, name))
    rows.append(f"{name},grid.json,out/{name},{7400000 + k * 5000},6200000")
json.dump({"cells": [cells, cells], "origin": [origin, origin], "step": [step, step],
           "map": {"crs": "EPSG:28407", "x": 0, "y": 0, "step": [1000, 1000]}},
          open(os.path.join(folder, "grid.json"), "w"))
open(os.path.join(folder, "list.csv"), "w").write("\n".join(rows) + "\n")
PY
}

# Runs a batch afresh; prints "wall processor".
run_batch() {
  local folder=$1
  shift
  rm -rf "$folder/out" && mkdir -p "$folder/out"
  /usr/bin/time -f '%e %U %S' -o "$data/time.txt" "$cli" batch "$folder/list.csv" --quiet "$@" \
    || [[ $? == 3 ]]
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$data/time.txt"
}

[[ -f $data/small/list.csv ]] && (($(wc -l <"$data/small/list.csv") == 41)) ||
  make_archive small 40 3000 10 260
[[ -f $data/large/list.csv ]] && [[ -f $data/large/sheet02.bmp ]] || make_archive large 3 16000 12 1200

printf '%-28s %8s %10s %11s\n' archive 'wall s' 'cpu s' 'cores busy'
report() {
  local label=$1 wall=$2 cpu=$3
  printf '%-28s %8s %10s %11s\n' "$label" "$wall" "$cpu" "$(awk -v w="$wall" -v c="$cpu" \
    'BEGIN { printf "%.2f", c / w }')"
}
read -r wall cpu < <(run_batch "$data/small")
report "40 small sheets, parallel" "$wall" "$cpu"
read -r serialWall serialCpu < <(run_batch "$data/small" --jobs 1)
report "40 small sheets, --jobs 1" "$serialWall" "$serialCpu"
read -r largeWall largeCpu < <(run_batch "$data/large")
report "3 large sheets, one by one" "$largeWall" "$largeCpu"
read -r pairWall pairCpu < <(run_batch "$data/large" --jobs 2)
report "3 large sheets, --jobs 2" "$pairWall" "$pairCpu"
awk -v s="$serialWall" -v p="$wall" 'BEGIN { printf "small sheets: --jobs 1 over parallel %.2f\n", s / p }'
awk -v s="$pairWall" -v p="$largeWall" 'BEGIN { printf "large sheets: --jobs 2 over one by one %.2f\n", s / p }'
