# Fuzzing and memory checks (included by the top Makefile).
#
#   make fuzz          build the harnesses, run each for FUZZ_SECONDS (60)
#   make fuzz-check    the same for FUZZ_CHECK_SECONDS (15) each, for CI
#   make memcheck      valgrind memcheck on converting every example file
#   make fuzz-coverage line coverage of src/ reached by the corpora so far
#
# The harnesses are built with clang++ and libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into $(FUZZ_BUILD); corpora grow under
# fuzz/corpus-work/ (seeded from examples/ and tests/cases/ by
# fuzz/make_seeds.sh), and crashing inputs land in fuzz/corpus-work/artifacts/.
# Inputs that once crashed are kept in fuzz/regressions/HARNESS/ and are run
# before each fuzzing session.  `make -j2 fuzz` runs two harnesses at a time.

FUZZ_CXX           ?= clang++
FUZZ_BUILD         ?= build-fuzz
FUZZ_SECONDS       ?= 60
FUZZ_CHECK_SECONDS ?= 15
FUZZ_WORK          ?= fuzz/corpus-work
FUZZ_ARGS          ?=
FUZZ_HARNESSES     := product_pass header_pass base64 command_line event_sources
MEMCHECK_BUILD     ?= build-memcheck

# Asked for when a recipe runs, not when make reads this file: on a fresh
# system pkg-config and libxml2-dev arrive only with fuzz-deps.
FUZZ_XML_CFLAGS  = $(shell pkg-config --cflags libxml-2.0 2>/dev/null || xml2-config --cflags 2>/dev/null)
FUZZ_XML_LIBS    = $(shell pkg-config --libs libxml-2.0 2>/dev/null || xml2-config --libs 2>/dev/null) \
                   -lz -llzma -lbz2 -lzstd -pthread
FUZZ_SANITIZE   := address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
FUZZ_CXXFLAGS   ?= -std=c++17 -g -O1 -Wall -Wextra -Werror -ffp-contract=off
# The push parser is fed small pieces and hands over small blocks, so that
# the small inputs of fuzzing cross both as large files do.
FUZZ_DEFINES    := -DL2_SMALL_PUSH_PIECES
FUZZ_CORE_SRCS  := $(filter-out src/main.cpp,$(wildcard src/*.cpp))
FUZZ_CORE_OBJS  := $(patsubst src/%.cpp,$(FUZZ_BUILD)/%.o,$(FUZZ_CORE_SRCS))
FUZZ_HEADERS    := $(wildcard src/*.h) fuzz/fuzz_driver.h tests/e2e/source_comparison.h
FUZZ_BINARIES   := $(addprefix $(FUZZ_BUILD)/fuzz_,$(FUZZ_HARNESSES))

# Seed corpus of each harness (a folder made by fuzz/make_seeds.sh).
FUZZ_SEEDS_product_pass := product
FUZZ_SEEDS_header_pass  := header
FUZZ_SEEDS_base64       := base64
FUZZ_SEEDS_command_line := command_line
FUZZ_SEEDS_event_sources := product

.PHONY: fuzz fuzz-check fuzz-build fuzz-deps fuzz-seeds fuzz-coverage memcheck

# Objects and harnesses are kept although only pattern rules name them.
.SECONDARY: $(FUZZ_CORE_OBJS) $(FUZZ_BINARIES) $(FUZZ_WORK)/seeds/.made

fuzz-deps:
	@$(DEPS) fuzz

fuzz-build: fuzz-deps $(FUZZ_BINARIES)

$(FUZZ_BUILD)/%.o: src/%.cpp $(FUZZ_HEADERS) | fuzz-deps
	@mkdir -p $(FUZZ_BUILD)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) $(FUZZ_DEFINES) -fsanitize=fuzzer-no-link,$(FUZZ_SANITIZE) \
	    $(FUZZ_XML_CFLAGS) -Isrc -c $< -o $@

# The driver: the harnesses call its run(); its weak main gives way to
# libFuzzer's.
$(FUZZ_BUILD)/main.o: src/main.cpp $(FUZZ_HEADERS) | fuzz-deps
	@mkdir -p $(FUZZ_BUILD)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) $(FUZZ_DEFINES) -fsanitize=fuzzer-no-link,$(FUZZ_SANITIZE) \
	    $(FUZZ_XML_CFLAGS) -Isrc -DL2_VERSION='"fuzz"' -c $< -o $@

$(FUZZ_BUILD)/fuzz_%: fuzz/fuzz_%.cpp $(FUZZ_CORE_OBJS) $(FUZZ_BUILD)/main.o $(FUZZ_HEADERS)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) -fsanitize=fuzzer,$(FUZZ_SANITIZE) $(FUZZ_XML_CFLAGS) \
	    -Isrc -Ifuzz -Itests/e2e $< $(FUZZ_CORE_OBJS) $(FUZZ_BUILD)/main.o $(FUZZ_XML_LIBS) -o $@

$(FUZZ_WORK)/seeds/.made: fuzz/make_seeds.sh $(wildcard tests/cases/*.cases examples/*) | fuzz-deps
	sh fuzz/make_seeds.sh $(FUZZ_WORK)/seeds >/dev/null
	@touch $@

fuzz-seeds: $(FUZZ_WORK)/seeds/.made

# fuzz-run-HARNESS: the regression inputs once each, then FUZZ_TIME seconds
# of fuzzing that adds to the harness's corpus.  The program's own output is
# closed (-close_fd_mask=3); sanitizer and libFuzzer reports still appear.
FUZZ_TIME ?= $(FUZZ_SECONDS)
fuzz-run-%: fuzz-deps $(FUZZ_BUILD)/fuzz_% $(FUZZ_WORK)/seeds/.made
	@mkdir -p $(FUZZ_WORK)/$* $(FUZZ_WORK)/artifacts
	@if ls fuzz/regressions/$*/* >/dev/null 2>&1; then \
	    echo "== $*: regression inputs"; \
	    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	        $(FUZZ_BUILD)/fuzz_$* -close_fd_mask=3 fuzz/regressions/$*/* \
	        >$(FUZZ_WORK)/$*-regressions.log 2>&1 \
	        || { cat $(FUZZ_WORK)/$*-regressions.log; exit 1; }; fi
	@echo "== $*: fuzzing for $(FUZZ_TIME) s (log: $(FUZZ_WORK)/$*-fuzz.log)"
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	$(FUZZ_BUILD)/fuzz_$* -max_total_time=$(FUZZ_TIME) -timeout=20 -rss_limit_mb=2048 \
	    -dict=fuzz/l2.dict -close_fd_mask=3 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_WORK)/artifacts/$*- $(FUZZ_ARGS) \
	    $(FUZZ_WORK)/$* $(FUZZ_WORK)/seeds/$(FUZZ_SEEDS_$*) >$(FUZZ_WORK)/$*-fuzz.log 2>&1 \
	    || { tail -n 80 $(FUZZ_WORK)/$*-fuzz.log; exit 1; }
	@grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' $(FUZZ_WORK)/$*-fuzz.log; \
	    grep -E '^#[0-9]+.*(INITED|DONE)' $(FUZZ_WORK)/$*-fuzz.log | tail -n 1

fuzz: $(addprefix fuzz-run-,$(FUZZ_HARNESSES))

fuzz-check:
	$(MAKE) --no-print-directory FUZZ_TIME=$(FUZZ_CHECK_SECONDS) \
	    $(addprefix fuzz-run-,$(FUZZ_HARNESSES))

# Source coverage of the corpora: the harnesses again, built with clang's
# coverage instrumentation instead of the sanitizers, run once over every
# corpus input.
FUZZ_COV_BUILD ?= $(FUZZ_BUILD)/coverage
FUZZ_LLVM      ?= $(shell ls -d /usr/lib/llvm-*/bin 2>/dev/null | sort -V | tail -n 1)
fuzz-coverage: fuzz-deps $(FUZZ_WORK)/seeds/.made
	@mkdir -p $(FUZZ_COV_BUILD)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) -fprofile-instr-generate -fcoverage-mapping $(FUZZ_XML_CFLAGS) \
	    -Isrc -DL2_VERSION='"fuzz"' -c src/main.cpp -o $(FUZZ_COV_BUILD)/main.o
	@for h in $(FUZZ_HARNESSES); do \
	    $(FUZZ_CXX) $(FUZZ_CXXFLAGS) -fsanitize=fuzzer -fprofile-instr-generate -fcoverage-mapping \
	        $(FUZZ_XML_CFLAGS) -Isrc -Ifuzz -Itests/e2e fuzz/fuzz_$$h.cpp $(FUZZ_CORE_SRCS) $(FUZZ_COV_BUILD)/main.o \
	        $(FUZZ_XML_LIBS) -o $(FUZZ_COV_BUILD)/fuzz_$$h || exit 1; \
	    mkdir -p $(FUZZ_WORK)/$$h; \
	    LLVM_PROFILE_FILE=$(FUZZ_COV_BUILD)/$$h.profraw $(FUZZ_COV_BUILD)/fuzz_$$h -runs=0 \
	        -close_fd_mask=3 $(FUZZ_WORK)/$$h $(FUZZ_WORK)/seeds/$$(echo $$h | sed 's/_pass$$//') \
	        >$(FUZZ_COV_BUILD)/$$h.log 2>&1 || { cat $(FUZZ_COV_BUILD)/$$h.log; exit 1; }; \
	done
	$(FUZZ_LLVM)/llvm-profdata merge -o $(FUZZ_COV_BUILD)/all.profdata $(FUZZ_COV_BUILD)/*.profraw
	$(FUZZ_LLVM)/llvm-cov report $(FUZZ_COV_BUILD)/fuzz_product_pass \
	    $(addprefix -object=$(FUZZ_COV_BUILD)/fuzz_,$(filter-out product_pass,$(FUZZ_HARNESSES))) \
	    -instr-profile=$(FUZZ_COV_BUILD)/all.profdata $(FUZZ_CORE_SRCS) src/main.cpp

# valgrind on an optimised build with debug information, own build folder.
memcheck:
	@$(DEPS) memcheck
	cmake -S . -B $(MEMCHECK_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DL2_TESTS=OFF \
	    $(CMAKE_FLAGS) >/dev/null
	cmake --build $(MEMCHECK_BUILD) -j $(JOBS) --target l2xml2ascii
	sh fuzz/memcheck.sh $(MEMCHECK_BUILD)/l2xml2ascii examples
