#!/usr/bin/env bash
# Compares `kay-pack create` at its default level with
# `tar -cf - DIR | zstd -19 --long=27 -T0` on the same tree; prints the time
# and size ratios (kay-pack / tar+zstd) of one run.
#
# usage: bench/kay_pack/run.sh [DIR [KAY_PACK]]
set -euo pipefail

dir=${1:-/usr/lib/python3.11}
here=$(cd "$(dirname "$0")" && pwd)
pack=${2:-$here/../../build/native/kay-pack}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

[ -x "$pack" ] || { echo "kay-pack not found at $pack (build it first)" >&2; exit 1; }
[ -d "$dir" ] || { echo "no directory $dir" >&2; exit 1; }

# Both tools get the same copy of the tree without its symbolic links: tar
# stores a link as a link, while kay-pack refuses links (or packs what they
# point to with --follow-symlinks).
cp -a "$dir" "$out/tree"
find "$out/tree" -type l -delete
dir_name=$dir
dir=$out/tree

# Any regular file serves as the main program.
main=$(cd "$dir" && find . -type f -print | LC_ALL=C sort | sed -n 1p)
main=${main#./}
files=$(find "$dir" -type f | wc -l)
bytes=$(du -sb --apparent-size "$dir" | cut -f1)

now() { date +%s.%N; }

# Warm the page cache so both runs read from memory.
tar -cf - -C "$dir" . > /dev/null

t0=$(now)
"$pack" create "$dir" --main "$main" -o "$out/payload.kay" --quiet
t1=$(now)
tar -cf - -C "$dir" . | zstd -q -19 --long=27 -T0 -o "$out/tree.tar.zst"
t2=$(now)

kay_time=$(echo "$t1 - $t0" | bc -l)
ref_time=$(echo "$t2 - $t1" | bc -l)
kay_size=$(stat -c %s "$out/payload.kay")
ref_size=$(stat -c %s "$out/tree.tar.zst")

printf 'tree:            %s (%s files, %s bytes, symbolic links left out)\n' "$dir_name" "$files" "$bytes"
printf 'kay-pack create: %8.2f s  %10d bytes\n' "$kay_time" "$kay_size"
printf 'tar | zstd -19:  %8.2f s  %10d bytes\n' "$ref_time" "$ref_size"
printf 'time ratio:      %.3f (limit 1.2)\n' "$(echo "$kay_time / $ref_time" | bc -l)"
printf 'size ratio:      %.4f (limit 1.02)\n' "$(echo "$kay_size / $ref_size" | bc -l)"
"$pack" verify "$out/payload.kay" --quiet
