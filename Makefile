# Two commands do all the set-up on a fresh machine:
#   make demo   installs what the Linux build needs, builds a launcher around
#               the demo application and runs it
#   make test   installs what is missing, builds every platform and runs
#               every test (native, Windows under Wine, arm64 under qemu,
#               sanitized)
# The other native targets (native, test-native, asan, fuzz) install
# nothing: scripts/check-deps names what is missing and how to install it.

SHELL := /bin/sh
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
WINEPREFIX_DIR := $(CURDIR)/build/wineprefix
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# The Windows build the tests run under Wine: win32, or win64 on a machine
# that cannot run 32-bit programs at all (worked out when used, after the
# dependencies are installed).
WIN_TEST = $(shell scripts/runs-32bit && echo win32 || echo win64)
WINE = $(if $(filter win32,$(WIN_TEST)),wine,/usr/lib/wine/wine64)

.PHONY: all deps deps-native native win32 win64 linux-arm64 asan demo demo-win32 test test-native test-win32 test-asan test-dist dist wine-prefix fuzz bench clean

all: native

# Installs whatever is missing for every build and test; a no-op when
# everything is there.
deps:
	@scripts/check-deps native win32 arm64 fuzz dist >/dev/null 2>&1 || $(SUDO) ./scripts/install-deps

# What the Linux build and the demo need, and nothing more.
deps-native:
	@scripts/check-deps native >/dev/null 2>&1 || $(SUDO) ./scripts/install-deps native

native:
	@scripts/check-deps native
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

# The Windows builds pack with the native kay-pack, so they come second.
win32: native
	@scripts/check-deps win32
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

win64: native
	@scripts/check-deps win32
	cmake --preset win64
	cmake --build --preset win64 -j $(JOBS)

# The arm64 Linux launcher program (and the probe the tests run under qemu).
linux-arm64: native
	@scripts/check-deps arm64
	cmake --preset linux-arm64
	cmake --build --preset linux-arm64 -j $(JOBS)

# The native tests again, under AddressSanitizer and UndefinedBehaviorSanitizer
# (the launcher keeps its heap copies until it ends, so leaks are not checked).
asan:
	@scripts/check-deps native
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

demo: deps-native
	@$(MAKE) --no-print-directory native
	@echo "== build/native/kay-launcher carries the demo application; running it:"
	cd build && ./native/kay-launcher "first argument" second "with \"quotes\""

# Where 32-bit programs cannot run, the win64 build's launcher stands in.
demo-win32: win32 win64 wine-prefix
	@echo "== build/$(WIN_TEST)/kay-launcher.exe under Wine:"
	cd build && WINEPREFIX=$(WINEPREFIX_DIR) WINEDEBUG=-all $(WINE) ./$(WIN_TEST)/kay-launcher.exe "first argument" second

# One fresh Wine prefix per test run, with its server kept alive meanwhile.
wine-prefix:
	@scripts/check-deps win32
	@# The old prefix's server and the virtual display the tests started
	@# for it end with it.
	@[ ! -d $(WINEPREFIX_DIR) ] || WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k 2>/dev/null || true
	@[ ! -f $(WINEPREFIX_DIR)/kay-display ] || kill $$(cut -d' ' -f2 $(WINEPREFIX_DIR)/kay-display) 2>/dev/null || true
	rm -rf $(WINEPREFIX_DIR)
	mkdir -p build
	WINEPREFIX=$(WINEPREFIX_DIR) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
	  $(WINE) wineboot -i >/dev/null 2>&1 </dev/null
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -w
	WINEPREFIX=$(WINEPREFIX_DIR) wineserver -p >/dev/null 2>&1 </dev/null

# Native tests (Windows launchers under Wine and arm64 ones under qemu among
# them), then the unit tests of the Windows build under Wine, then the
# sanitized run.
test: deps
	$(MAKE) win32 win64 linux-arm64 wine-prefix
	@[ "$(WIN_TEST)" = win32 ] || echo "== This machine cannot run 32-bit programs: the Windows tests run the" \
	  "win64 build under 64-bit Wine; win32 launchers are built and checked, not run."
	KAY_REQUIRE_WIN32=1 KAY_WIN32_BUILD=$(CURDIR)/build/$(WIN_TEST) KAY_WINE=$(WINE) \
	  KAY_REQUIRE_ARM64=1 KAY_WINEPREFIX=$(WINEPREFIX_DIR) ctest --preset native -j $(JOBS) \
	  && ctest --preset $(WIN_TEST) -j $(JOBS); \
	  rc=$$?; WINEPREFIX=$(WINEPREFIX_DIR) wineserver -k >/dev/null 2>&1; \
	  [ ! -f $(WINEPREFIX_DIR)/kay-display ] || kill $$(cut -d' ' -f2 $(WINEPREFIX_DIR)/kay-display) 2>/dev/null; exit $$rc
	$(MAKE) test-asan
	$(MAKE) test-dist

test-native: native
	ctest --preset native -j $(JOBS)

# The Windows unit tests alone (after make win32 wine-prefix).
test-win32:
	ctest --preset $(WIN_TEST) -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS, from the committed corpus (and,
# for the payload target, seeds made from the test payloads). New inputs go
# to build/fuzz/corpus/<target>, crash files to build/fuzz/findings; one
# reproduces with build/fuzz/tests/fuzz/kay_fuzz_<target> <file>.
FUZZ_BIN := build/fuzz/tests/fuzz
fuzz:
	@scripts/check-deps native fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build/fuzz/corpus/payload build/fuzz/corpus/pathspec build/fuzz/corpus/data_block build/fuzz/findings
	$(FUZZ_BIN)/kay_fuzz_payload -max_total_time=$(FUZZ_SECONDS) -close_fd_mask=3 -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus/payload tests/fuzz/corpus/payload $(FUZZ_BIN)/seeds
	$(FUZZ_BIN)/kay_fuzz_pathspec -max_total_time=$(FUZZ_SECONDS) -close_fd_mask=3 -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus/pathspec tests/fuzz/corpus/pathspec
	$(FUZZ_BIN)/kay_fuzz_data_block -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus/data_block tests/fuzz/corpus/data_block

# The downloads, reproducibly, into dist/: the Linux archive, the Windows zip,
# the Debian package and SHA256SUMS (scripts/make-dist).
dist: native linux-arm64 win32 win64
	@scripts/check-deps dist
	scripts/make-dist

# The downloads used as a user would (tests/install/dist.sh; root or sudo, for the
# Debian chroot).
test-dist: dist
	KAY_WINE=$(WINE) KAY_WINEPREFIX=$(WINEPREFIX_DIR) tests/install/dist.sh $(CURDIR) $(CURDIR)/build $(CURDIR)/dist

bench: native
	./bench/run-all

clean:
	rm -rf build
