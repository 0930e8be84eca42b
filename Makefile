# A thin layer over CMake: `make run` and `make test` install what is missing, build and go.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Where `make run` keeps the settings: the user's configuration folder, the one an installed
# Quorlin uses too, and never the build folder, which `make clean` removes.
CONFIG_DIR ?= $(or $(XDG_CONFIG_HOME),$(HOME)/.config)/Quorlin
SETTINGS_FILES = Quorlin.ini Quorlin_BatList.ini Quorlin_Options.ini

.PHONY: deps test-deps configure build run install test format-check bench fuzz screenshot desktop-check clean

deps:
	./scripts/install-deps

test-deps:
	./scripts/install-deps --tests

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Settings files left in the build folder by an earlier run move to CONFIG_DIR; one that would
# overwrite a file there is kept beside it as NAME.from-build.
define rescue_settings
	@for f in $(SETTINGS_FILES); do \
	    if [ -f "$(BUILD)/$$f" ]; then \
	        mkdir -p "$(CONFIG_DIR)"; \
	        target="$(CONFIG_DIR)/$$f"; \
	        if [ -e "$$target" ]; then target="$$target.from-build"; fi; \
	        mv "$(BUILD)/$$f" "$$target" && echo "Moved $(BUILD)/$$f to $$target"; \
	    fi; \
	done
endef

run: build
	$(rescue_settings)
	mkdir -p "$(CONFIG_DIR)"
	./$(BUILD)/quorlin --config-dir "$(CONFIG_DIR)" $(ARGS)

# The program, its desktop entry, icon and systemd user unit under PREFIX; DESTDIR stages them
# elsewhere (for a package) without changing the paths they name.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

test: test-deps build format-check
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Every C++ file as the repository's .clang-format has it; `clang-format -i FILE` mends one.
FORMAT_FILES = $(shell find src tests bench fuzz -path fuzz/out -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
format-check:
	clang-format --dry-run -Werror $(FORMAT_FILES)

# Each libFuzzer target runs FUZZ_SECONDS; the working corpus in fuzz/out carries over between runs.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= client_command tagging cp932 sasl reply_stream stls
fuzz: test-deps
	for target in $(FUZZ_TARGETS); do ./fuzz/build-and-run.sh $$target $(FUZZ_SECONDS) || exit 1; done

# Benchmarks, side by side with their peers in one run; never part of `make test`.
bench: test-deps build
	./$(BUILD)/bench/digest/bench_digest
	BUILD_DIR=$(BUILD) ./bench/relay/run.sh --all

screenshot: test-deps build
	./scripts/screenshot.sh $(BUILD)

# The program on a virtual desktop with a window manager and a tray; also part of `make test`.
desktop-check: test-deps build
	./tests/gui/desktop_check.py $(BUILD)/quorlin

clean:
	$(rescue_settings)
	rm -rf $(BUILD)
