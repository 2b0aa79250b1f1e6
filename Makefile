# SPDX-License-Identifier: GPL-2.0-or-later
# The two commands a newcomer runs on a fresh Debian 12 machine:
#   make run    install what is missing, build, start the live grapher
#   make test   install what is missing, build, run the whole suite three
#               times: normal, AddressSanitizer+UBSan, ThreadSanitizer; every
#               build treats warnings as errors
#
# Build folders: build/ (normal), build-asan/, build-tsan/.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN := -G Ninja
# A run that finds no tests (a broken glob, a discovery that failed) is a
# failure, not a pass.
CTEST_FLAGS := --output-on-failure --no-tests=error -j $(JOBS)

# A sanitizer report stops the test process with a failure.
ASAN_ENV := ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

.PHONY: all deps build build-asan build-tsan run test test-normal test-asan test-tsan bench clean

all: build

deps:
	./scripts/install-deps.sh

build/build.ninja:
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMO_WERROR=ON

build-asan/build.ninja:
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=address -DLUMO_WERROR=ON

build-tsan/build.ninja:
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMO_SANITIZE=thread -DLUMO_WERROR=ON

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

build-asan: deps build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)

build-tsan: deps build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)

run: build
	./scripts/run.sh

test: test-normal test-asan test-tsan
	@echo "make test: all three runs passed"

test-normal: build
	cd build && ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd build-asan && env $(ASAN_ENV) ctest $(CTEST_FLAGS)

test-tsan: build-tsan
	cd build-tsan && env $(TSAN_ENV) ctest $(CTEST_FLAGS)

bench: build
	./bench/run.sh

clean:
	rm -rf build build-asan build-tsan
