# Set-up and everyday commands. Every target installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Tests wait on files, sockets, timers and child processes much of their
# time: twice as many at once as there are cores keeps the cores busy.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))

.PHONY: all deps configure build run test bench bench-deps clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) -- --no-print-directory

run: build
	@$(BUILD_DIR)/app/kadrin

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(TEST_JOBS)

# What only the benchmarks use: multimon-ng and sox, to compare copiers.
bench-deps:
	@./scripts/install-deps.sh multimon-ng sox

bench: build bench-deps
	@echo "Machine: $$(nproc) cores, $$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
	@echo "| measurement | median | detail | peak memory |"
	@echo "|---|---:|---|---:|"
	@$(BUILD_DIR)/bench/kadrin-bench-decode
	@$(BUILD_DIR)/bench/kadrin-bench-window 2>/dev/null
	@echo
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/kadrin-bench-listen 2>/dev/null
	@echo
	@$(BUILD_DIR)/bench/kadrin-bench-audio
	@echo
	@$(BUILD_DIR)/bench/kadrin-bench-archive
	@$(BUILD_DIR)/bench/kadrin-bench-network

clean:
	rm -rf $(BUILD_DIR)

# --- Sanitizers and fuzzing (build-asan/, build-fuzz/) ----------------------
# test-asan: the test suite built with ASan + UBSan; any report fails.
# fuzz: the libFuzzer targets of fuzz/, FUZZ_SECONDS seconds each.
# fuzz-smoke: the same, short, for CI.
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20
FUZZ_DEPS = clang-14 libclang-rt-14-dev

.PHONY: test-asan fuzz fuzz-smoke

test-asan:
	@./scripts/install-deps.sh
	@JOBS=$(JOBS) ./scripts/test-asan.sh

fuzz:
	@./scripts/install-deps.sh $(FUZZ_DEPS)
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/run-fuzz.sh

fuzz-smoke:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)
# --- end of sanitizers and fuzzing ------------------------------------------
