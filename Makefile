# Two commands do everything: `make demo` and `make test`. Both install what is missing first.
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := true
export CCACHE_SLOPPINESS := time_macros,include_file_mtime,include_file_ctime
# Window tests need a display: without one, the test runs get a virtual one from Xvfb. The script
# decides when it runs (after `make deps` may have installed Xvfb), and a window test that cannot
# open the display it offers fails rather than skips.
WITH_DISPLAY := bash "$(CURDIR)/scripts/with-display.sh"
# GTK's accessibility bridge and D-Bus session are not part of what the tests check.
export GTK_A11Y := none
export NO_AT_BRIDGE := 1

FUZZ_SECONDS ?= 60

.PHONY: all deps build test demo bench size sanitize asan tsan fuzz format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

build/CMakeCache.txt: | deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS)

test: build
	cd build && $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS) --timeout 300

# In a window when there is a display; the headless flow otherwise (or with ARGS=--headless). A
# screenshot needs a window: then a virtual display stands in where there is none.
demo: build
	$(if $(findstring --screenshot,$(ARGS)),$(WITH_DISPLAY)) ./build/examples/demo/orvex-demo $(ARGS)

bench: build
	@for b in build/bench/bench_*; do [ -x "$$b" ] && $(WITH_DISPLAY) "$$b" --benchmark_min_time=0.2 || true; done

size: deps
	cmake -S . -B build-size -DCMAKE_BUILD_TYPE=MinSizeRel -DORVEX_SHARED=ON -DORVEX_BUILD_TESTS=OFF \
	  -DORVEX_BUILD_BENCH=OFF -DORVEX_BUILD_EXAMPLES=OFF $(CMAKE_FLAGS)
	cmake --build build-size -j $(JOBS) --target size

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=address -DORVEX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/gtk/lsan.supp:print_suppressions=0 \
	  $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS) --timeout 600

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=thread -DORVEX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

sanitize: asan tsan

# libFuzzer needs clang: its own build directory, only the libraries the targets need.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORVEX_BUILD_FUZZ=ON -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCH=OFF \
	  -DORVEX_BUILD_EXAMPLES=OFF -DORVEX_GTK=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target orvex_fuzzers
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

format-check:
	@git ls-files '*.h' '*.cc' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-tsan build-fuzz build-size
