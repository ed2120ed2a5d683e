# Two commands matter: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
JOBS       ?= 2
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
GEN        := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
SAMPLES    ?= $(abspath ../shared/hpgl-samples)

.PHONY: all setup configure build run test test-sanitize test-asan test-tsan bench bench-compare fuzz deb lint-package clean

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

# The core without Qt under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# threaded parts under ThreadSanitizer.
test-sanitize: test-asan test-tsan

test-asan: setup
	cmake -S . -B $(BUILD)-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DGRAFONEL_WITH_QT=OFF -DGRAFONEL_BENCH=OFF \
	  -DGRAFONEL_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900

test-tsan: setup
	@if [ -n "$$(ls tests/serial 2>/dev/null)" ]; then \
	  cmake -S . -B $(BUILD)-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAFONEL_WITH_QT=OFF -DGRAFONEL_BENCH=OFF \
	    -DGRAFONEL_SANITIZE=thread && \
	  cmake --build $(BUILD)-tsan -j $(JOBS) && \
	  cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 900 -R '^(Serial|Comm|Write|Event)'; \
	else echo "test-tsan: no threaded code yet"; fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

# Whole-process figures beside their yardsticks (wc -l, hp2xx -m png) on generated files.
bench-compare: build
	@bash bench/compare.sh $(BUILD)

# libFuzzer on the reader, seeded from the sample plot files; any report fails the run.
fuzz: setup
	cmake -S fuzz -B $(BUILD)-fuzz $(GEN) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	rm -rf $(BUILD)-fuzz/corpus && mkdir -p $(BUILD)-fuzz/corpus
	$(BUILD)-fuzz/fuzz_reader -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
	  -print_final_stats=1 $(BUILD)-fuzz/corpus $(SAMPLES)

# The Debian package from a release build of the programs alone (no tests, no benchmarks):
# $(BUILD)-deb/grafonel_VERSION_ARCH.deb. Install it with apt-get install ./grafonel_*.deb.
deb: setup
	cmake -S . -B $(BUILD)-deb $(GEN) -DCMAKE_BUILD_TYPE=Release -DGRAFONEL_TESTS=OFF -DGRAFONEL_BENCH=OFF
	cmake --build $(BUILD)-deb -j $(JOBS)
	cd $(BUILD)-deb && cpack -G DEB

# The desktop's and Debian's checkers on what `make deb` built.
lint-package: deb
	bash packaging/lint.sh $(BUILD)-deb

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(BUILD)-deb
