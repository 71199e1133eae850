# The project's commands. Each installs what is missing first, then builds.
BUILD   ?= build
JOBS    ?= $(shell nproc)
WERROR  ?= OFF
EXAMPLE := examples/survey
REAL_EXAMPLE := examples/zhang

CMAKE_FLAGS ?=

.PHONY: all deps build test test-sanitize test-tsan fuzz demo run bench install package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELV_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELV_SANITIZE=ON -DZELV_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The core tests (and the zelv-cli they run) built with ThreadSanitizer: the precise estimate's
# worker threads and everything they share. The desktop windows are not built. The runaway
# input's wall-clock bound is left to the plain and AddressSanitizer runs: this build runs the
# search many times slower.
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELV_BUILD_GUI=OFF -DZELV_WERROR=$(WERROR) \
	  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target zelv_core_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitizer/tsan.supp \
	  ctest --output-on-failure -j $(JOBS) \
	  -E '_replay$$|^MoveBoundTest.TheRunawayDistanceInputEndsWithTheGuardMessageInSeconds$$'

# Runs every fuzz target for FUZZ_SECONDS on a copy of its seed corpus (in fuzz-out/).
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELV_FUZZ=ON -DZELV_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzz.sh build-fuzz

demo: build
	./$(BUILD)/zelv-cli orient $(EXAMPLE)/camera.cam $(EXAMPLE)/image.crd $(EXAMPLE)/scene.crd --level 1
	@echo
	@echo "Real photograph: raw corners and an OpenCV calibration"
	./$(BUILD)/zelv-cli orient $(REAL_EXAMPLE)/calibration.yml $(REAL_EXAMPLE)/image-raw.crd $(REAL_EXAMPLE)/scene.crd --level 1
	@echo
	@echo "Both as one batch, one JSON line each"
	./$(BUILD)/zelv-cli batch --manifest examples/batch.csv --level 1

run: build
	./$(BUILD)/zelv

bench: build
	./$(BUILD)/zelv_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	if [ -x $(BUILD)/zelv_orient_loop ]; then PYTHONPATH=$(BUILD)/python /usr/bin/python3 \
	  bench/python/orient_bench.py $(BUILD)/zelv_orient_loop; fi

install: build
	cmake --install $(BUILD)

# The Debian packages $(BUILD)/zelv_<version>_<arch>.deb (the desktop application) and
# $(BUILD)/zelv-cli_<version>_<arch>.deb (the command line alone, no Qt); install them with
# apt install ./$(BUILD)/zelv*.deb
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
