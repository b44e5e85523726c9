# Two commands do all the set-up on a fresh machine:
#   make demo   builds a launcher around the demo application and runs it
#   make test   builds both platforms and runs every test (native and Wine)

SHELL := /bin/sh
JOBS ?= $(shell nproc)
WINEPREFIX_DIR := $(CURDIR)/build/wineprefix
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps native win32 win64 asan demo demo-win32 test test-native test-asan wine-prefix bench clean

all: native

# Installs what is missing; a no-op when everything is there.
deps:
	@if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null \
	   || ! command -v i686-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null \
	   || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v osslsigncode >/dev/null \
	   || ! command -v zstd >/dev/null || ! command -v python3 >/dev/null \
	   || [ ! -f /usr/local/src/kay-zstd/lib/zstd.h ] || [ ! -f /usr/include/gtest/gtest.h ] \
	   || [ ! -f /usr/include/zstd.h ] || [ ! -f /usr/include/libdeflate.h ] \
	   || [ ! -f /usr/local/src/kay-libdeflate/libdeflate.h ]; then \
	    $(SUDO) ./scripts/install-deps; \
	fi

native: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

# The Windows builds pack with the native kay-pack, so they come second.
win32: native
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

win64: native
	cmake --preset win64
	cmake --build --preset win64 -j $(JOBS)

# The native tests again, under AddressSanitizer and UndefinedBehaviorSanitizer
# (the launcher keeps its heap copies until it ends, so leaks are not checked).
asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

demo: native
	@echo "== build/native/kay-launcher carries the demo application; running it:"
	cd build && ./native/kay-launcher "first argument" second "with \"quotes\""

demo-win32: win32 wine-prefix
	@echo "== build/win32/kay-launcher.exe under Wine:"
	cd build && WINEPREFIX=$(WINEPREFIX_DIR) WINEDEBUG=-all wine ./win32/kay-launcher.exe "first argument" second

# One fresh Wine prefix per test run, with its server kept alive meanwhile.
wine-prefix: deps
	rm -rf $(WINEPREFIX_DIR)
	mkdir -p build
	WINEPREFIX=$(WINEPREFIX_DIR) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
	  wineboot -i >/dev/null 2>&1 </dev/null
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -w
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -p >/dev/null 2>&1 </dev/null

test: win32 win64 wine-prefix
	KAY_REQUIRE_WIN32=1 KAY_WINEPREFIX=$(WINEPREFIX_DIR) ctest --preset native -j $(JOBS); \
	  rc=$$?; WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k >/dev/null 2>&1; exit $$rc
	$(MAKE) test-asan

test-native: native
	ctest --preset native -j $(JOBS)

bench: native
	./bench/run-all

clean:
	rm -rf build
