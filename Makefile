# Thin wrapper over CMake: `make test` is all a fresh clone needs.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test bench bench-type run sanitize fuzz format format-check clean

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE e2e-apps

# Benchmarks are built with everything else; this runs them.
bench: build
	$(BUILD_DIR)/bench/lumaret-bench

# lumaret-type over a generated stream of 1,000,000 Telex keys: wall time and peak memory, three runs.
bench-type: build
	$(BUILD_DIR)/bench/lumaret-telex-input 1000000 > $(BUILD_DIR)/telex-keys.txt
	for i in 1 2 3; do /usr/bin/time -f "%e s, peak %M KB" $(BUILD_DIR)/apps/lmr-type/lumaret-type \
	    < $(BUILD_DIR)/telex-keys.txt > /dev/null; done

.PHONY: demo test-e2e bench-e2e
# The end-to-end harness shows itself: a headless Sway, the service and a test application, and a
# Vietnamese sentence typed in Telex arriving in the application word by word.
demo: build
	$(BUILD_DIR)/tests/e2e/lmr-e2e-demo

# Only the end-to-end scenarios (they are part of `make test` too).
test-e2e: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -L '^e2e$$'

# The end-to-end scenarios in foot, GTK 4, GTK 3, Chromium and Firefox, then the table of applications x
# features they found ($(BUILD_DIR)/tests/e2e/app-features.md).
.PHONY: test-apps
APP_TABLE = $(BUILD_DIR)/tests/e2e/app-features
test-apps: build
	rm -f $(APP_TABLE).tsv
	LUMARET_E2E_APP_TABLE=$(CURDIR)/$(APP_TABLE).tsv ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) \
	    -L e2e-apps
	tests/e2e/targets/table.py $(APP_TABLE).tsv | tee $(APP_TABLE).md

# Key-to-text latency under Sway over 1,000 keys, through the input method and without it.
bench-e2e: build
	$(BUILD_DIR)/tests/e2e/lmr-e2e-latency

# Starts the input method in the current Wayland session (Sway, Hyprland, niri, ...).
run: build
	$(BUILD_DIR)/apps/lmr-wayland/lumaret-wayland $(ARGS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS="-DLUMARET_SANITIZE=ON -DLUMARET_BENCH=OFF"

# libFuzzer targets, built with clang; each runs FUZZ_SECONDS from its seed corpus.
# A target is listed as name:corpus-folder; its binary is build-fuzz/fuzz/fuzz-<name>.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= compose:libs/lmr-core/fuzz/corpus config:libs/lmr-engine/fuzz/corpus-config \
                session:libs/lmr-engine/fuzz/corpus-session damage:apps/lmr-type/fuzz/corpus
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMARET_FUZZ=ON -DLUMARET_BENCH=OFF -DLUMARET_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(foreach t,$(FUZZ_TARGETS),fuzz-$(firstword $(subst :, ,$(t))))
	set -e; for t in $(FUZZ_TARGETS); do \
	  name=$${t%%:*}; seeds=$${t#*:}; mkdir -p build-fuzz/corpus-$$name; \
	  echo "fuzz-$$name: $(FUZZ_SECONDS) s"; \
	  build-fuzz/fuzz/fuzz-$$name -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build-fuzz/corpus-$$name $$seeds; \
	done

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

format-check: deps
	git ls-files '*.h' '*.cc' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-fuzz

# Debian package built with CPack from a Release build: $(PACKAGE_DIR)/lumaret_<version>_<arch>.deb.
# scripts/check-package installs it in a fresh Debian 12 root (needs the Debian mirror).
PACKAGE_DIR ?= build-package
.PHONY: package
package: deps
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DLUMARET_TESTS=OFF -DLUMARET_BENCH=OFF
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB
