# Entry points: `make demo` and `make check` (see README.md).
#
# Every target first makes sure that what it needs is installed, in one pass
# (tools/ensure-deps.sh with the target's requirement set): as root on a
# system with apt it installs what is missing, otherwise it prints what to
# install and stops.  L2_NO_DEPS=1 skips that check.
BUILD        ?= build
ASAN_BUILD   ?= build-asan
TSAN_BUILD   ?= build-tsan
# The test builds treat every warning as an error.
WERROR       ?= -DL2_WERROR=ON
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS  ?=
DEMO_DIR     ?= demo-output
# The interpreter the Python module is built for and tested with: Debian's,
# which sees Debian's numpy, unless PYTHON names another.
PYTHON       ?= $(shell [ -x /usr/bin/python3 ] && echo /usr/bin/python3 || echo python3)
# AUTO: the Python module is built when pybind11 and numpy are there.
PYTHON_MODULE ?= AUTO
DEPS         := PYTHON=$(PYTHON) sh tools/ensure-deps.sh

# configure,FOLDER,CMAKE-ARGUMENTS
configure = cmake -S . -B $(1) -DL2_PYTHON=$(PYTHON_MODULE) -DL2_PYTHON_EXECUTABLE=$(PYTHON) \
    $(2) $(CMAKE_FLAGS) >/dev/null

.PHONY: all build program python demo check check-stages test test-asan test-tsan \
        test-newest-libxml2 \
        bench plots clean distclean

all: build

# The program and the test suite, optimised.
build:
	@$(DEPS) tests
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=Release -DL2_TESTS=ON $(WERROR))
	cmake --build $(BUILD) -j $(JOBS)

# The program alone: no GoogleTest, no Python.
program:
	@$(DEPS) program
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=Release -DL2_TESTS=OFF -DL2_PYTHON=OFF)
	cmake --build $(BUILD) -j $(JOBS) --target l2xml2ascii

# The Python module alone, into $(BUILD)/python (PYTHONPATH=$(BUILD)/python).
python:
	@$(DEPS) python
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=Release -DL2_TESTS=OFF -DL2_PYTHON=ON)
	cmake --build $(BUILD) -j $(JOBS) --target python_module

# Converts every bundled example into $(DEMO_DIR)/ and lists what it wrote.
demo: program
	@sh tools/demo.sh $(BUILD)/l2xml2ascii examples $(DEMO_DIR)

# Each ctest run keeps its output in ctest.log of its build folder, where
# `make check` counts the tests that ran.
CTEST = rm -f ctest.log && ctest --output-on-failure -j $(JOBS) -O ctest.log

test: build
	cd $(BUILD) && $(CTEST)

# The whole suite again on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails it.
test-asan:
	@$(DEPS) tests
	$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=Debug -DL2_SANITIZE=ON -DL2_TESTS=ON $(WERROR))
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $(CTEST)

# The library's tests on a build with ThreadSanitizer: conversions in
# several threads at once share nothing they change.
test-tsan:
	@$(DEPS) tests
	$(call configure,$(TSAN_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DL2_SANITIZE_THREAD=ON -DL2_TESTS=ON $(WERROR))
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target l2xml2ascii e2e_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(CTEST) -R '^LibraryTest\.'

# The whole suite again against the newest libxml2 release, built from
# Debian's libxml2-source package into $(NEWEST_LIBXML2) (once; later runs
# reuse it) and loaded through the binaries' run path.
NEWEST_LIBXML2       ?= build-libxml2-new
NEWEST_LIBXML2_BUILD ?= build-newest-libxml2
test-newest-libxml2:
	@$(DEPS) newest-libxml2
	JOBS=$(JOBS) sh tools/newest-libxml2.sh $(NEWEST_LIBXML2) $(NEWEST_LIBXML2_BUILD)

# Everything that check's stages need is asked for once, before any of them
# builds; the stages then skip their own checks.
check:
	@$(DEPS) check
	@L2_NO_DEPS=1 $(MAKE) --no-print-directory check-stages PYTHON_MODULE=ON

CHECK_LOGS = $(BUILD)/ctest.log $(ASAN_BUILD)/ctest.log $(TSAN_BUILD)/ctest.log \
             $(NEWEST_LIBXML2_BUILD)/ctest.log
check-stages: test test-asan test-tsan test-newest-libxml2 fuzz-check memcheck
	@n=0; for log in $(CHECK_LOGS); do \
	    c=$$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9][0-9]*\)$$/\1/p' $$log); \
	    [ -n "$$c" ] || { echo "make check: $$log has no passing ctest summary" >&2; exit 1; }; \
	    n=$$((n + c)); \
	done; \
	echo "make check: all $$n tests, fuzzing and memcheck passed"

# Speed and memory against libxml2's own streaming parse (not a test).  The
# generated products stay in bench/cache/ for later runs.
BENCH_BUILD ?= build-release
bench:
	@$(DEPS) bench
	$(call configure,$(BENCH_BUILD),-DCMAKE_BUILD_TYPE=Release -DL2_TESTS=OFF -DL2_PYTHON=ON)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target l2xml2ascii bare_reader_loop python_module
	$(PYTHON) bench/run_bench.py --program $(BENCH_BUILD)/l2xml2ascii \
	    --bare $(BENCH_BUILD)/bare_reader_loop --python-path $(BENCH_BUILD)/python $(BENCH_ARGS)

# Fuzzing, memory checks and quick-look plots live in their own makefiles.
-include fuzz/fuzz.mk
-include tools/plots.mk

# Every folder the targets write; distclean also drops the benchmark's
# generated products, which take minutes to make again.
clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(DEMO_DIR) $(NEWEST_LIBXML2) \
	    $(NEWEST_LIBXML2_BUILD) $(FUZZ_BUILD) $(FUZZ_WORK) $(MEMCHECK_BUILD) $(PLOTS_DIR)

distclean: clean
	rm -rf bench/cache
