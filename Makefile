# Thin wrapper over the CMake presets. `make test` and `make demo` are the two commands
# the README promises; everything else is a convenience.
.PHONY: setup test bench demo debug release format clean

setup:
	@scripts/setup

debug: setup
	@cmake --preset debug >/dev/null
	@cmake --build --preset debug

release: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

test: debug
	@ctest --preset debug

bench: release
	@build/release/bench/tavimo_bench --benchmark_counters_tabular=true

demo: release
	@echo "The demo arrives with the plug-in host; 'make test' and 'make bench' work today."

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	@rm -rf build
