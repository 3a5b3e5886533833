#!/usr/bin/env bash
# The search for a grid's nodes on the hard set of synthetic map sheets and plans
# (bench/find_nodes/sheets.py: 37 sheets from 2000 × 3000 to 12000 × 9000 pixels, every kind of
# clutter and scan the search must survive, the exact place of every crossing). Prints, per sheet
# and in all, the share of visible crossings placed within a pixel, those not found, the nodes moved
# more than two pixels off, the crossings hidden under labels and blots left in place, the
# crossings found with the sheets' corners dragged first against without, and the time of
# find-nodes against calibrate on two sheets in the same run (a ratio; below 1 the search is
# faster).
#
#   bench/find_nodes.sh [BUILD_DIR] [SHEETS_DIR]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON (default build/bench, built here); SHEETS_DIR
# receives the sheets, made once (default build/find_nodes_sheets: 3 GB, a quarter of an hour).
# scripts/setup --bench installs what the generator needs (numpy, Pillow).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
sheets=${2:-build/find_nodes_sheets}

scripts/setup --bench
/usr/bin/python3 bench/find_nodes/sheets.py "$sheets"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON \
  -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target find_nodes_sheets >/dev/null
"$build/bench/calibration/find_nodes_sheets" "$sheets" --time topo-8000x6000 topo-12000x9000
