#!/bin/sh
# Installs kay into a scratch prefix (the native build, and the win32 one
# when there is one), builds the example project against it with
# find_package(kay) for Linux and Windows, and runs both launchers.
#   run.sh SOURCE_DIR NATIVE_BUILD_DIR
set -eu
src=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kay-install-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs a build step quietly; on failure shows its output.
step() {
    if ! "$@" >"$work/step.log" 2>&1; then
        cat "$work/step.log" >&2
        fail "$*"
    fi
}

step cmake --install "$build" --prefix "$work/prefix"
[ -x "$work/prefix/bin/kay-pack" ] || fail "kay-pack not installed"
[ -f "$work/prefix/lib/cmake/kay/kayConfig.cmake" ] || fail "package config not installed"
[ -x "$work/prefix/lib/kay/kay-launcher-native" ] || fail "prebuilt launcher not installed"
# Each Windows preset's install adds its prebuilt launcher.
# The Windows build run under Wine: win32, or win64 (KAY_WIN32_BUILD) where
# the machine runs 64-bit programs only.
winbuild=${KAY_WIN32_BUILD:-$src/build/win32}
win=$(basename "$winbuild")
arch=i686
[ "$win" = win64 ] && arch=x86_64
windows=0
if [ "${KAY_REQUIRE_WIN32:-0}" = 1 ] || [ -f "$winbuild/cmake_install.cmake" ]; then
    windows=1
    step cmake --install "$winbuild" --prefix "$work/prefix"
    for kind in "" -gui; do
        [ -f "$work/prefix/lib/kay/kay-launcher-$win$kind.exe" ] || fail "$win$kind prebuilt launcher not installed"
    done
fi

check_run() {  # check_run LABEL EXPECTED_DIR OUTPUT CODE
    echo "$3" | grep -q "hello from the example application (2 arguments)" || fail "$1: child output: $3"
    echo "$3" | grep -q "launcher folder: $2" || fail "$1: launcher folder: $3"
    [ "$4" = 2 ] || fail "$1: exit code $4, expected 2"
}

# Linux.
step cmake -S "$src/examples/hello" -B "$work/native" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix"
step cmake --build "$work/native"
mkdir "$work/run"
cp "$work/native/hello-launcher" "$work/run/"
set +e
out=$("$work/run/hello-launcher" one two)
code=$?
set -e
check_run native "$work/run" "$out" "$code"
[ -f "$work/run/hello-files/data/greeting.txt" ] || fail "native: data file not unpacked"
cmp -s "$work/run/hello-files/data/greeting.txt" "$src/examples/hello/greeting.txt" || fail "native: data file differs"

# Windows, under Wine (whose services, when this starts them, keep the
# streams they inherit: none of ours).
if [ "$windows" = 1 ]; then
    step cmake -S "$src/examples/hello" -B "$work/$win" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$work/prefix/lib/cmake/kay/toolchain-mingw-$arch.cmake" \
        -DCMAKE_PREFIX_PATH="$work/prefix"
    step cmake --build "$work/$win"
    mkdir "$work/runw"
    cp "$work/$win/hello-launcher.exe" "$work/runw/"
    set +e
    (cd "$work/runw" && WINEPREFIX="${KAY_WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all LC_ALL=C.UTF-8 \
          "${KAY_WINE:-wine}" hello-launcher.exe one two >"$work/win.out" 2>"$work/win.err" </dev/null)
    code=$?
    out=$(tr -d '\r' <"$work/win.out")
    set -e
    winpath=$(echo "Z:$work/runw" | tr / '\\')
    check_run "$win" "$(echo "$winpath" | sed 's/\\/\\\\/g')" "$out" "$code"
    cmp -s "$work/runw/hello-files/data/greeting.txt" "$src/examples/hello/greeting.txt" \
        || fail "$win: data file differs"
fi
echo "install and example: ok"
