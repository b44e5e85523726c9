#!/usr/bin/env bash
# What `kay-pack build` adds to `kay-pack create` for the same folder (the
# assembly onto the prebuilt program: at most 0.3 s), the launcher's size
# over the payload's for each target whose prebuilt program is built, and
# whether two builds give the same bytes; for a tiny folder and a large one.
#
# usage: bench/kay_pack/build.sh [DIR [KAY_PACK]]
set -euo pipefail

big=${1:-/usr/lib/python3.11}
here=$(cd "$(dirname "$0")" && pwd)
pack=${2:-$here/../../build/native/kay-pack}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
[ -x "$pack" ] || { echo "kay-pack not found at $pack (build it first)" >&2; exit 1; }

mkdir -p "$out/tiny"
printf 'echo hello\n' > "$out/tiny/run.sh"
printf 'data\n' > "$out/tiny/data.txt"
cp -a "$big" "$out/big"
find "$out/big" -type l -delete

now() { date +%s.%N; }

for tree in tiny big; do
    dir=$out/$tree
    main=$(cd "$dir" && find . -type f -print | LC_ALL=C sort | sed -n 1p)
    main=${main#./}
    tar -cf - -C "$dir" . > /dev/null  # page cache warm
    t0=$(now)
    "$pack" create "$dir" --main "$main" -o "$out/$tree.kay" -q
    t1=$(now)
    "$pack" build "$dir" --main "$main" -o "$out/$tree-1" -q
    t2=$(now)
    "$pack" build "$dir" --main "$main" -o "$out/$tree-2" -q
    same=$(cmp -s "$out/$tree-1" "$out/$tree-2" && echo identical || echo DIFFERENT)
    payload=$(stat -c %s "$out/$tree.kay")
    printf '%s (%s): create %.2f s, build %.2f s, build - create %.3f s (limit 0.3); two builds %s\n' \
        "$tree" "$([ "$tree" = tiny ] && echo "2 files" || echo "$big")" "$(echo "$t1 - $t0" | bc -l)" \
        "$(echo "$t2 - $t1" | bc -l)" "$(echo "$t2 - $t1 - ($t1 - $t0)" | bc -l)" "$same"
    for target in native win32 win64; do
        "$pack" assemble "$out/$tree.kay" -o "$out/$tree.$target" --target "$target" -q 2>/dev/null || continue
        size=$(stat -c %s "$out/$tree.$target")
        printf '  %-6s launcher %10d bytes, payload %10d bytes, ratio %.4f (program and block %d bytes)\n' \
            "$target" "$size" "$payload" "$(echo "$size / $payload" | bc -l)" "$((size - payload))"
    done
done
