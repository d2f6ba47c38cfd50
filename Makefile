# Two commands set everything up on a fresh Debian machine: `make run` and `make test`.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build test run bench fuzz lab clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build $(BUILD)

test: build
	@scripts/run-tests $(BUILD)

run: build
	@scripts/run-demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

# libFuzzer targets in their own clang build, each run FUZZ_SECONDS (default 60).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DVELTRIN_BUILD_FUZZ=ON -DVELTRIN_BUILD_TESTS=OFF -DVELTRIN_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) --target veltrin_fuzzers
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The lab alone, with the demo config: `make lab` (Ctrl-C ends it).
lab: build
	@$(BUILD)/lab/veltrin-lab lab/demo.json

clean:
	rm -rf $(BUILD)
