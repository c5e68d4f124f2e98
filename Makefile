# Thin wrapper over the CMake presets. `make test` and `make demo` are the two commands
# the README promises; everything else is a convenience.
.PHONY: setup test bench sound demo debug release windows tsan fuzz package format clean

# CTest runs as many tests at once as the machine has cores.
JOBS := $(shell nproc)
# ThreadSanitizer cannot map its shadow memory under the kernel's larger address
# randomisation; it runs with randomisation off.
NO_ASLR := setarch $(shell uname -m) -R
# Seconds each fuzz target runs in `make fuzz` (FUZZ_SECONDS=10 make fuzz for a short pass).
FUZZ_SECONDS ?= 60

setup:
	@scripts/setup

debug: setup
	@cmake --preset debug >/dev/null
	@cmake --build --preset debug

release: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

# The Windows x64 bundle and host, cross-compiled with MinGW-w64; the tests run them under Wine.
windows: setup
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

# The plug-in and its tests built with ThreadSanitizer.
tsan: setup
	@cmake --preset tsan >/dev/null
	@$(NO_ASLR) cmake --build --preset tsan

test: debug windows tsan
	@ctest --preset debug -j $(JOBS)
	@$(NO_ASLR) ctest --preset tsan -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS each, starting from its seed corpus.
fuzz: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run_fuzzers build/fuzz $(FUZZ_SECONDS)

bench: release
	@build/release/bench/tavimo_bench --benchmark_counters_tabular=true

# The sound lab's full table: realistic material through every pair, Quality, algorithm and Morph.
sound: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target tavimo_sound
	@scripts/make_material build/release/sound-material
	@build/release/tests/sound/tavimo_sound build/release/sound-material

# The release archives a producer downloads, and the source they were built from, in dist/.
package: release windows
	@scripts/package build/release build/windows dist

demo: release
	@build/release/tavimo demo demo

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	@rm -rf build
