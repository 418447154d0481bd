# Entry points: `make demo` and `make check` (see README.md).
BUILD        ?= build
ASAN_BUILD   ?= build-asan
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS  ?=
DEMO_DIR     ?= demo-output

.PHONY: all deps build demo check test test-asan test-newest-libxml2 bench plots clean

all: build

deps:
	@sh tools/ensure-deps.sh python3

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Converts every bundled example into $(DEMO_DIR)/ and lists what it wrote.
demo: build
	@sh tools/demo.sh $(BUILD)/l2xml2ascii examples $(DEMO_DIR)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails it.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DL2_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The whole suite again against the newest libxml2 release, built from
# Debian's libxml2-source package into $(NEWEST_LIBXML2) (once; later runs
# reuse it) and loaded through the binaries' run path.
NEWEST_LIBXML2       ?= build-libxml2-new
NEWEST_LIBXML2_BUILD ?= build-newest-libxml2
test-newest-libxml2:
	@sh tools/ensure-deps.sh python3 xz-utils zlib1g-dev
	JOBS=$(JOBS) sh tools/newest-libxml2.sh $(NEWEST_LIBXML2) $(NEWEST_LIBXML2_BUILD)

check: test test-asan test-newest-libxml2 fuzz-check memcheck

# Speed and memory against libxml2's own streaming parse (not a test).
BENCH_BUILD ?= build-release
bench:
	@sh tools/ensure-deps.sh python3 libxml2-utils time
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DL2_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target l2xml2ascii bare_reader_loop
	python3 bench/run_bench.py --program $(BENCH_BUILD)/l2xml2ascii \
	    --bare $(BENCH_BUILD)/bare_reader_loop $(BENCH_ARGS)

# Fuzzing, memory checks and quick-look plots live in their own makefiles.
-include fuzz/fuzz.mk
-include tools/plots.mk

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(DEMO_DIR) $(NEWEST_LIBXML2) $(NEWEST_LIBXML2_BUILD)
