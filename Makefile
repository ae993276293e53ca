# The two commands of the README: `make run` (the main job) and `make test`.
# Both install what they need and configure and build by themselves.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
OUT ?= out

.PHONY: all deps build run test test-normal test-asan test-tsan bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DORX_BUILD_BENCH=ON
	cmake --build build -j$(JOBS)

run: build
	./build/app/orx demo --out $(OUT)

# Normal build, then AddressSanitizer + UndefinedBehaviorSanitizer, then the
# suites that exercise threads under ThreadSanitizer.
test: deps
	$(MAKE) test-normal test-asan test-tsan

test-normal:
	cmake -S . -B build $(CMAKE_FLAGS) -DORX_BUILD_BENCH=ON
	cmake --build build -j$(JOBS)
	ctest --test-dir build --output-on-failure

test-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DORX_SANITIZE=address -DORX_BUILD_BENCH=OFF
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DORX_SANITIZE=thread -DORX_BUILD_BENCH=OFF
	cmake --build build-tsan -j$(JOBS) --target test_pool test_dxt24_decoder
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan -L tsan --output-on-failure

bench: build
	./build/bench/orx-bench
	./build/bench/orx-bench-session
	./build/bench/orx-bench-decode
	./build/app/orx bench

clean:
	rm -rf build build-asan build-tsan $(OUT)
