# Two entry points: `make demo` builds only the library and its Python module
# and runs the demo; `make test` builds everything and runs every test.
# `make hardening` (CI runs it after `make test`) repeats the suite under the
# sanitizers, runs the core tests with the portable blends and every fuzz
# target for FUZZ_SECONDS; `make asan`, `make tsan`, `make portable` and
# `make fuzz` run one part.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

FUZZ_SECONDS ?= 60
B ?= $(BUILD)/liblumenfold_python.so
AB_CPU ?= 3
# The interpreter with NumPy and pandas (Debian's) that the tests use, for the
# Python benchmark's rows of them.
NUMPY_PYTHON ?= /usr/bin/python3

# Keeps the nested makes of the CMake build from announcing every directory.
MAKEFLAGS += --no-print-directory

.PHONY: all demo test bench ab clean deps hardening asan tsan portable fuzz

all: $(BUILD)/.built

deps:
	@tools/ensure-deps.sh

$(BUILD)/.built: deps FORCE
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	@touch $@

# The same build tree as `make test`, but only the library with the C
# interface and the generated Python module are built.
demo: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target lumenfold_python_module
	PYTHONPATH=$(BUILD)/python python3 examples/demo.py

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: all
	$(BUILD)/bench/lumenfold_bench --benchmark_min_time=0.5
	PYTHONPATH=$(BUILD)/python $(NUMPY_PYTHON) bench/python_bench.py

ab: deps
	@test -n "$(A)" || { echo "make ab A=<library> [B=<library>] [AB_ARGS=...]"; exit 2; }
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target lumenfold_python lumenfold_ab
	taskset -c $(AB_CPU) $(BUILD)/bench/lumenfold_ab $(A) $(B) $(AB_ARGS)

hardening: deps
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) tools/hardening.sh asan tsan portable fuzz

asan tsan portable fuzz: deps
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) tools/hardening.sh $@

clean:
	rm -rf $(BUILD) build-asan build-tsan build-portable build-fuzz

FORCE:
