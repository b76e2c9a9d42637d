# Two commands do everything: `make demo` and `make test`. Both install what is missing first.
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := true
export CCACHE_SLOPPINESS := time_macros,include_file_mtime,include_file_ctime

.PHONY: all deps build test demo bench size sanitize asan tsan format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

build/CMakeCache.txt: | deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS) --timeout 300

demo: build
	./build/examples/demo/orvex-demo $(ARGS)

bench: build
	@for b in build/bench/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_min_time=0.2 || true; done

size: deps
	cmake -S . -B build-size -DCMAKE_BUILD_TYPE=MinSizeRel -DORVEX_SHARED=ON -DORVEX_BUILD_TESTS=OFF \
	  -DORVEX_BUILD_BENCH=OFF -DORVEX_BUILD_EXAMPLES=OFF $(CMAKE_FLAGS)
	cmake --build build-size -j $(JOBS) --target size

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=address -DORVEX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=thread -DORVEX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

sanitize: asan tsan

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

format-check:
	@git ls-files '*.h' '*.cc' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-tsan build-size
