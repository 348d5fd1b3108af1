# SPDX-License-Identifier: Apache-2.0
# The two commands of the README: `make test` and `make demo`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps configure build test test-sanitize test-debian13 test-debian13-cuda demo format \
	clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test except the footage benchmark, output shown on failure.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE footage

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in
# a build folder of its own. Every process writes its reports to files (the
# tools the end-to-end tests start as well, whose own exit status a test may
# expect to be 1), and any report fails the run. Leak checking is off: libtorch
# keeps allocations for the life of the process on purpose.
SANITIZE_BUILD ?= build-sanitize
SANITIZE_REPORTS = $(abspath $(SANITIZE_BUILD))/sanitizer-reports
SANITIZE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1" \
	-DCMAKE_C_FLAGS_RELEASE="-O1 -g1" -DTWEENORA_SANITIZE=ON -DTWEENORA_BUILD_BENCH=OFF

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) $(SANITIZE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	rm -rf $(SANITIZE_REPORTS) && mkdir -p $(SANITIZE_REPORTS)
	cd $(SANITIZE_BUILD) && \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:log_path=$(SANITIZE_REPORTS)/asan \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(SANITIZE_REPORTS)/ubsan \
	ctest --output-on-failure -j $(JOBS) -LE footage; status=$$?; \
	if [ -n "$$(ls -A $(SANITIZE_REPORTS))" ]; then \
		cat $(SANITIZE_REPORTS)/*; echo "test-sanitize: sanitizer reports above" >&2; exit 1; \
	fi; exit $$status

# The suite on a fresh Debian 13 and its libtorch 2.6, in a root that debootstrap makes under
# $(BUILD)/debian13 (as root; skipped otherwise); -cuda with Debian's CUDA build of libtorch.
test-debian13:
	scripts/test-debian13 $(BUILD)

test-debian13-cuda:
	scripts/test-debian13 --cuda $(BUILD)

demo: build
	scripts/demo $(BUILD)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
