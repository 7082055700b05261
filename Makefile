# Two entry points: `make demo` builds everything and runs the demo;
# `make test` builds everything and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all demo test bench clean deps

all: $(BUILD)/.built

deps:
	@tools/ensure-deps.sh

$(BUILD)/.built: deps FORCE
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	@touch $@

demo: all
	python3 examples/demo.py

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: all
	$(BUILD)/bench/lumenfold_bench --benchmark_min_time=0.5
	PYTHONPATH=$(BUILD)/python python3 bench/python_bench.py

clean:
	rm -rf $(BUILD)

FORCE:
