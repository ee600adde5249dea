# Thin wrapper around CMake and CTest.
BUILD ?= build
PREFIX ?= /usr/local
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD     ?= build-fuzz
FUZZ_SECONDS   ?= 60

.PHONY: all deps configure build install test test-sanitize lint fuzz demo bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Honours PREFIX, and DESTDIR for packagers: make install DESTDIR=/tmp/pkg PREFIX=/usr
install: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$(PREFIX)" >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j 4
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j 4

# Every libFuzzer target for FUZZ_SECONDS each (clang, with ASan and UBSan).
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@rm -rf $(FUZZ_BUILD)/fuzz-stats
	@cd $(FUZZ_BUILD) && KELVARA_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --output-on-failure -j 2
	@cat $(FUZZ_BUILD)/fuzz-stats/*.txt

# clang-tidy and cppcheck over the project's own code.
lint: deps
	@scripts/lint.sh build-lint

demo: build
	@scripts/demo.sh $(BUILD)

# Timings of the sweep and the programs on simulated buses, in their own
# RelWithDebInfo build (build-bench); prints one table. Asserts nothing.
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-bench -j $(JOBS) --target kvbench >/dev/null
	@build-bench/bin/kvbench

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) build-lint
