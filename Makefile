# Two commands matter: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
JOBS       ?= 2
FUZZ_SECONDS ?= 60
FUZZ_MAX_LEN ?= 16384
CMAKE_FLAGS ?=
GEN        := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
SAMPLES    ?= $(abspath ../shared/hpgl-samples)

.PHONY: all setup configure build run test format format-check test-faults test-sanitize test-asan test-tsan bench bench-compare fuzz deb lint-package clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/CMakeCache.txt:
	@bash scripts/setup.sh
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: setup
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/src/ui/grafonel ]; then $(BUILD)/src/ui/grafonel; else $(BUILD)/tools/grafonel-cli/grafonel-cli --help; fi

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The randomised line-fault run (holds, jams, hang-ups, signals) at nightly size; the suite
# runs a few dozen of them.
test-faults: build
	cd $(BUILD) && GRAFONEL_FAULT_RUNS=300 QT_QPA_PLATFORM=offscreen ./tests/tools/sim_tests --gtest_filter='PlotCliFaults.Random*'

# The whole suite, windows and command-line tools included, under AddressSanitizer +
# UndefinedBehaviorSanitizer, halting on the first report (Qt itself is not instrumented);
# the threaded parts under ThreadSanitizer.
SAN_ENV := ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 QT_QPA_PLATFORM=offscreen
test-sanitize: test-asan test-tsan

test-asan: setup
	cmake -S . -B $(BUILD)-asan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
	  -DGRAFONEL_BENCH=OFF -DGRAFONEL_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) --timeout 900

test-tsan: setup
	@if [ -n "$$(ls tests/serial 2>/dev/null)" ]; then \
	  cmake -S . -B $(BUILD)-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAFONEL_WITH_QT=OFF -DGRAFONEL_BENCH=OFF \
	    -DGRAFONEL_SANITIZE=thread $(CMAKE_FLAGS) && \
	  cmake --build $(BUILD)-tsan -j $(JOBS) && \
	  cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 900 -R '^(Serial|Comm|Write|Event|PlotRun)'; \
	else echo "test-tsan: no threaded code yet"; fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

# Whole-process figures beside their yardsticks (wc -l, hp2xx -m png) on generated files.
bench-compare: build
	@bash bench/compare.sh $(BUILD)

# libFuzzer on the reader, the HP-GL/2 translator, the whole sheet pipeline and the SVG import, each for
# FUZZ_SECONDS, seeded from the sample plot files (the SVG import from fuzz/svg-seeds); any report fails the run.
# Corpora are kept in $(BUILD)-fuzz between runs.
FUZZ_TARGETS := fuzz_reader fuzz_sheet fuzz_translate fuzz_svg
fuzz: setup
	cmake -S fuzz -B $(BUILD)-fuzz $(GEN) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  echo "== $$t"; mkdir -p $(BUILD)-fuzz/corpus-$$t $(BUILD)-fuzz/findings && \
	  seeds=$(SAMPLES); if [ $$t = fuzz_svg ]; then seeds=$(abspath fuzz/svg-seeds); fi && \
	  QT_QPA_PLATFORM=offscreen $(BUILD)-fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
	    -max_len=$(FUZZ_MAX_LEN) -print_final_stats=1 -artifact_prefix=$(BUILD)-fuzz/findings/$$t- \
	    $(BUILD)-fuzz/corpus-$$t $$seeds || exit 1; \
	done

# The Debian package from a release build of the programs alone (no tests, no benchmarks):
# $(BUILD)-deb/grafonel_VERSION_ARCH.deb. Install it with apt-get install ./grafonel_*.deb.
deb: setup
	cmake -S . -B $(BUILD)-deb $(GEN) -DCMAKE_BUILD_TYPE=Release -DGRAFONEL_TESTS=OFF -DGRAFONEL_BENCH=OFF
	cmake --build $(BUILD)-deb -j $(JOBS)
	cd $(BUILD)-deb && cpack -G DEB

# The desktop's and Debian's checkers on what `make deb` built.
lint-package: deb
	bash packaging/lint.sh $(BUILD)-deb

# The house layout is .clang-format; `make format` applies it, CI checks it.
CLANG_FORMAT ?= clang-format-14
format: setup
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) -i

format-check: setup
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) --dry-run -Werror

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(BUILD)-deb
