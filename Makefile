# Two commands set everything up on a fresh Debian machine: `make run` and `make test`.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build test run bench lab clean

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

# The lab alone, with the demo config: `make lab` (Ctrl-C ends it).
lab: build
	@$(BUILD)/lab/veltrin-lab lab/demo.json

clean:
	rm -rf $(BUILD)
