# The two commands of the README: `make run` (the main job) and `make test`.
# Both install what they need and configure and build by themselves.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
OUT ?= out
FUZZ_SECONDS ?= 3600
FUZZ_RUNS ?= 10000000
FUZZ_TEST_SECONDS ?= 25

PREFIX ?= /usr/local

.PHONY: all deps build install run test test-normal test-asan test-tsan test-fuzz test-win fuzz fuzz-build bench bench-win bench-gst clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DORX_BUILD_BENCH=ON
	cmake --build build -j$(JOBS)

# The program, the components, the GStreamer plug-in, the man page and the
# README under PREFIX (see the README's "Installing").
install: build
	cmake --install build --prefix $(PREFIX)

run: build
	./build/app/orx demo --out $(OUT)

# Normal build, then AddressSanitizer + UndefinedBehaviorSanitizer, then the
# suites that exercise threads under ThreadSanitizer, then a short run of
# every fuzz harness (the ordinary builds also replay the saved cases).
test: deps
	$(MAKE) test-normal test-asan test-tsan test-fuzz test-win

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
	cmake --build build-tsan -j$(JOBS) --target test_pool test_dxt24_decoder test_dxt_decoder test_lifecycle test_lzf_chunks test_read_ahead test_liborx
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest --test-dir build-tsan -L tsan --output-on-failure

# The Windows builds (mingw-w64), their suites run under Wine: the 32-bit
# deliverable (build-win/) under Wine's 32-bit loader, where the kernel runs
# 32-bit x86 programs, and the same sources built for x86-64 (build-win64/)
# under wine64, which needs no such support. The resource compiler and the
# Linux side of the cross-platform frame checks run here, so they come from
# the Linux build. Both builds' suites run even when the first fails; the
# last line says which ran, and why the others did not.
WIN_FLAGS = -DORX_LZF_SOURCE_DIR=$(CURDIR)/build-win/deps/liblzf -DORX_REZ=$(CURDIR)/build/tools/orx-rez \
  -DORX_CROSSPLATFORM_TOOL=$(CURDIR)/build/tests/crossplatform_frames -DORX_BUILD_BENCH=OFF
test-win:
	./scripts/fetch-lzf-source.sh build-win/deps/liblzf
	cmake -S . -B build $(CMAKE_FLAGS) -DORX_BUILD_BENCH=ON
	cmake --build build -j$(JOBS) --target orx-rez crossplatform_frames
	cmake -S . -B build-win $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake $(WIN_FLAGS)
	cmake --build build-win -j$(JOBS)
	cmake -S . -B build-win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
	  $(WIN_FLAGS) -DORX_WIN32_BUILD_DIR=$(CURDIR)/build-win
	cmake --build build-win64 -j$(JOBS)
	@status=0; \
	  ctest --test-dir build-win --output-on-failure || status=1; \
	  ctest --test-dir build-win64 --output-on-failure || status=1; \
	  ./scripts/wine-run.sh --summary; \
	  exit $$status

# The same benchmark in both builds, one after the other (1920x1080): the
# Linux build, then the Windows build under Wine.
bench-win: test-win
	cmake --build build -j$(JOBS) --target crossplatform_bench
	@echo "== Linux build"; ./build/tests/crossplatform_bench $(BENCH_WIN_ARGS)
	@echo "== Windows build under Wine"; cd build-win/windows && WINEDEBUG=-all xvfb-run -a -s "-screen 0 640x480x24" \
	  wine ./crossplatform_bench.exe $(BENCH_WIN_ARGS)

# The fuzz build: clang, libFuzzer, ASan + UBSan (build-fuzz/).
fuzz-build:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_FLAGS) -DORX_SANITIZE=fuzzer \
	  -DORX_BUILD_TESTS=OFF -DORX_BUILD_BENCH=OFF
	cmake --build build-fuzz -j$(JOBS)

# Every harness until it has run FUZZ_RUNS inputs (default 10^7) or for
# FUZZ_SECONDS (default 60 minutes), whichever comes first.
fuzz: deps fuzz-build
	FUZZ_RUNS=$(FUZZ_RUNS) ./fuzz/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	./fuzz/run-fuzzers.sh build-fuzz $(FUZZ_TEST_SECONDS)

bench: build
	./build/bench/orx-bench
	./build/bench/orx-bench-session
	./build/bench/orx-bench-decode
	./build/bench/orx-bench-lib
	./build/app/orx bench

# The orxdec GStreamer element beside orx decode, 1920x1080, every variant.
bench-gst: build
	./scripts/bench-gst.sh build

clean:
	rm -rf build build-asan build-tsan build-fuzz build-win build-win64 $(OUT)
