# The project's commands. Each installs what is missing first, then builds.
BUILD   ?= build
JOBS    ?= $(shell nproc)
WERROR  ?= OFF
EXAMPLE := examples/survey

CMAKE_FLAGS ?=

.PHONY: all deps build test demo run bench install clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELV_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./$(BUILD)/zelv-cli orient $(EXAMPLE)/camera.cam $(EXAMPLE)/image.crd $(EXAMPLE)/scene.crd --level 1

run: build
	./$(BUILD)/zelv

bench: build
	./$(BUILD)/zelv_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
