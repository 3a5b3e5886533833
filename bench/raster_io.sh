#!/usr/bin/env bash
# Open and save throughput of velmora against cat and cp of the same file, and the peak memory
# of velmora-cli convert, on generated rasters of about 50 MB and 1 GB (8 and 24 bits).
#
#   bench/raster_io.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]
#
# BUILD_DIR holds a build with -DVELMORA_BENCH=ON (default build/bench, built here when missing);
# DATA_DIR receives the rasters (default build/bench-data; never committed). Each figure is the
# median of ROUNDS runs (default 3) after a warm-up run, all in this one run of the script.
# Ratios are speeds relative to the peer: above 1 is faster than the peer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
data=${2:-build/bench-data}
rounds=${3:-3}

if [[ ! -x $build/bench/velmora_io_bench ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON \
    -DVELMORA_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 >/dev/null
fi
iobench=$build/bench/velmora_io_bench
cli=$build/src/cli/velmora-cli
mkdir -p "$data"

now() { date +%s.%N; }
elapsed() { awk -v a="$(now)" -v b="$1" 'BEGIN { print a - b }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Large deletions are discarded by the file system in the background; let that settle first.
settle() { sync; sleep 1; }

# name width height bits
rasters=(
  "8bit-50MB 7168 7168 8"
  "24bit-50MB 4096 4096 24"
  "8bit-1GB 32768 32768 8"
  "24bit-1GB 18918 18918 24"
)

# open: as velmora-cli opens (parts the cache lets go at once are left in the stable file);
# open+pict: as the program's window opens, keeping pictures of every part for drawing, which
# reads every pixel; save: written, fsync'ed and renamed.
printf '%-11s %7s %7s %7s %7s %9s %7s | %8s %9s %8s %9s\n' raster cat cp cp+sync open open+pict \
  save open/cat open+p/cat save/cp save/cp+s
for entry in "${rasters[@]}"; do
  read -r name width height bits <<<"$entry"
  file=$data/$name.bmp
  [[ -f $file ]] || python3 bench/make_raster.py "$file" "$width" "$height" "$bits"
  cat "$file" >/dev/null
  "$iobench" "$file" "$data/out.bmp" >/dev/null
  cp "$file" "$data/copy.bmp"
  rm -f "$data/out.bmp" "$data/copy.bmp"
  settle
  cats=() cps=() syncs=() opens=() pictured=() saves=()
  for ((i = 0; i < rounds; ++i)); do
    t=$(now); cat "$file" >/dev/null; cats+=("$(elapsed "$t")")
    t=$(now); cp "$file" "$data/copy.bmp"; cps+=("$(elapsed "$t")")
    rm -f "$data/copy.bmp"; settle
    t=$(now); cp "$file" "$data/copy.bmp"; sync "$data/copy.bmp"; syncs+=("$(elapsed "$t")")
    rm -f "$data/copy.bmp"; settle
    result=$("$iobench" "$file" "$data/out.bmp")
    opens+=("$(awk '/^open/ {print $2}' <<<"$result")")
    saves+=("$(awk '/^save/ {print $2}' <<<"$result")")
    rm -f "$data/out.bmp"; settle
    result=$("$iobench" "$file" "$data/out.bmp" 5120 --pictures)
    pictured+=("$(awk '/^open/ {print $2}' <<<"$result")")
    rm -f "$data/out.bmp"; settle
  done
  c=$(median "${cats[@]}") p=$(median "${cps[@]}") s=$(median "${syncs[@]}")
  o=$(median "${opens[@]}") q=$(median "${pictured[@]}") v=$(median "${saves[@]}")
  printf '%-11s %7.3f %7.3f %7.3f %7.3f %9.3f %7.3f | %8s %9s %8s %9s\n' "$name" "$c" "$p" "$s" \
    "$o" "$q" "$v" "$(ratio "$c" "$o")" "$(ratio "$c" "$q")" "$(ratio "$p" "$v")" \
    "$(ratio "$s" "$v")"
done
echo "(seconds, medians of $rounds runs; ratios are speed relative to the peer)"

for name in 8bit-1GB 24bit-1GB; do
  peak=$(/usr/bin/time -f '%M' "$cli" convert "$data/$name.bmp" "$data/out.bmp" --quiet 2>&1 | tail -1)
  rm -f "$data/out.bmp"
  echo "velmora-cli convert $name, default cache 5120 KB: peak resident memory $((peak / 1024)) MB"
done
