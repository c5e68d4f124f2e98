# Thin wrapper over the CMake presets. `make test` and `make demo` are the two commands
# the README promises; everything else is a convenience.
.PHONY: setup test bench demo debug release windows format clean

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

test: debug windows
	@ctest --preset debug

bench: release
	@build/release/bench/tavimo_bench --benchmark_counters_tabular=true

demo: release
	@build/release/tavimo demo demo

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	@rm -rf build
