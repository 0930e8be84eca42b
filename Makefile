# A thin layer over CMake: `make run` and `make test` install what is missing, build and go.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test bench fuzz screenshot clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/quorlin $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Each libFuzzer target runs FUZZ_SECONDS; the working corpus in fuzz/out carries over between runs.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= client_command tagging cp932
fuzz: deps
	for target in $(FUZZ_TARGETS); do ./fuzz/build-and-run.sh $$target $(FUZZ_SECONDS) || exit 1; done

# Benchmarks, side by side with their peers in one run; never part of `make test`.
bench: build
	./$(BUILD)/bench/digest/bench_digest
	BUILD_DIR=$(BUILD) ./bench/relay/run.sh --all

screenshot: build
	./scripts/screenshot.sh $(BUILD)

clean:
	rm -rf $(BUILD)
