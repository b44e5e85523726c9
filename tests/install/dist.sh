#!/bin/sh
# The downloads as a user gets them: the Linux archive unpacked into an
# empty folder, with nothing but its bin/ in PATH, builds launchers for
# every target that run (natively, under qemu, under Wine); kay-pack.exe
# from the zip builds one under Wine; the .deb installs into a fresh Debian
# chroot; and a second make-dist (another umask and temporary folder) gives
# the same SHA256SUMS. The chroot steps run as root (through sudo for
# another user):
#   dist.sh SOURCE_DIR BUILD_DIR DIST_DIR
set -eu
src=$1
build=$2
dist=$3
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
work=$(mktemp -d /var/tmp/kay-dist-test-XXXXXX)
version=$(sed -n 's/^project(kay VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
wine=${KAY_WINE:-wine}
export WINEPREFIX=${KAY_WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
# One Wine server for every run: one that ends on its own between two runs
# can drop the next one's connection.
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null; if [ -d "$work/root" ]; then as_root rm -rf "$work"; else rm -rf "$work"; fi' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
hex() { printf %s "$1" | od -An -tx1 | tr -d ' \n'; }

# check LABEL COMMAND...: runs a launcher built from a probe application
# (with the argument "one", asking for exit code 7), expecting the probe's
# report of that argument, the code and the data file unpacked beside it.
check() {
    label=$1
    shift
    set +e
    PROBE_EXIT=7 "$@" one >"$work/run.out" 2>"$work/run.err" </dev/null
    code=$?
    set -e
    [ "$code" = 7 ] || fail "$label: exit code $code, expected 7: $(cat "$work/run.err")"
    grep -q "^arg=$(hex one)" "$work/run.out" || fail "$label: the child did not get its argument: $(cat "$work/run.out")"
    cmp -s "$work/$label/out/files/data/readme.txt" "$work/readme.txt" || fail "$label: data file not unpacked"
}

# app LABEL PROBE: an application folder holding the probe as bin/NAME.
app() {
    mkdir -p "$work/$1/app/bin" "$work/$1/app/data" "$work/$1/out"
    cp "$work/readme.txt" "$work/$1/app/data/"
    cp "$2" "$work/$1/app/bin/"
}

echo "kay $version" >"$work/readme.txt"
tar -C "$work" -xzf "$dist/kay-$version-linux-x86_64.tar.gz"
bin=$work/kay-$version-linux-x86_64/bin
win=win32
scripts=$src/scripts
"$scripts/runs-32bit" || win=win64
for target in native linux-arm64 win32 win64 win32-gui win64-gui; do
    case $target in
    native) probe=$build/native/tests/kay-probe ;;
    linux-arm64) probe=$build/linux-arm64/tests/kay-probe ;;
    *-gui) probe=$build/$win/tests/kay-probe-gui.exe ;;
    *) probe=$build/$win/tests/kay-probe.exe ;;
    esac
    app "$target" "$probe"
    name=$(basename "$probe")
    out=$work/$target/out/app
    case $target in win*) out=$out.exe ;; esac
    env -i PATH="$bin" kay-pack build "$work/$target/app" --main "bin/$name" -o "$out" \
        --target "${target%-gui}" --target-spec '{PROGRAM_DIR}/files' -q >"$work/build.log" 2>&1 \
        || fail "$target: kay-pack build: $(cat "$work/build.log")"
    case $target in
    native) check "$target" "$out" ;;
    linux-arm64) check "$target" qemu-aarch64 "$out" ;;
    win32*) [ "$win" = win64 ] || check "$target" "$wine" "$out" ;;
    win64*) check "$target" "$wine" "$out" ;;
    esac
done

# kay-pack.exe from the zip, under Wine.
python3 -m zipfile -e "$dist/kay-$version-windows-x86_64.zip" "$work/zip"
app zip "$build/$win/tests/kay-probe.exe"
"$wine" "$work/zip/kay-$version-windows-x86_64/kay-pack.exe" build "Z:$work/zip/app" --main bin/kay-probe.exe \
    -o "Z:$work/zip/out/app.exe" --target win64 --target-spec '{PROGRAM_DIR}\files' -q >"$work/build.log" 2>&1 </dev/null \
    || fail "kay-pack.exe build: $(cat "$work/build.log")"
check zip "$wine" "$work/zip/out/app.exe"
# and a Linux one, from the Linux program beside it.
app zip-linux "$build/native/tests/kay-probe"
"$wine" "$work/zip/kay-$version-windows-x86_64/kay-pack.exe" build "Z:$work/zip-linux/app" --main bin/kay-probe \
    -o "Z:$work/zip-linux/out/app" --target linux-x86_64 --target-spec '{PROGRAM_DIR}/files' -q >"$work/build.log" 2>&1 </dev/null \
    || fail "kay-pack.exe build --target linux-x86_64: $(cat "$work/build.log")"
chmod +x "$work/zip-linux/out/app"
check zip-linux "$work/zip-linux/out/app"

# The package in a fresh Debian.
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list)
as_root debootstrap --variant=minbase bookworm "$work/root" "$mirror" >"$work/debootstrap.log" 2>&1 \
    || { tail -n 20 "$work/debootstrap.log" >&2; fail "debootstrap"; }
as_root cp "$dist/kay_${version}_amd64.deb" "$work/root/tmp/"
as_root chroot "$work/root" dpkg -i "/tmp/kay_${version}_amd64.deb" >"$work/dpkg.log" 2>&1 \
    || fail "dpkg -i: $(cat "$work/dpkg.log")"
got=$(as_root chroot "$work/root" kay-pack --version)
[ "$got" = "kay-pack $version" ] || fail "kay-pack --version in the chroot said '$got'"
[ -x "$work/root/usr/lib/kay/kay-launcher-native" ] || fail "the package has no /usr/lib/kay/kay-launcher-native"

# Reproducible: another run, umask and temporary folder, the same bytes.
mkdir "$work/tmp"
(umask 077 && TMPDIR=$work/tmp "$scripts/make-dist" "$build" "$work/again" >/dev/null)
cmp -s "$dist/SHA256SUMS" "$work/again/SHA256SUMS" || fail "two make-dist runs differ: $(diff "$dist/SHA256SUMS" "$work/again/SHA256SUMS")"
echo "downloads: ok"
