# Thin wrapper around CMake and CTest.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

SANITIZE_BUILD ?= build-sanitize

.PHONY: all deps configure build test test-sanitize lint fuzz demo clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j 4

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j 4

# clang-tidy and cppcheck over the project's own code.
lint: deps
	@scripts/lint.sh build-lint

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-lint build-fuzz
