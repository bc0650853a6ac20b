# One-command set-up for a fresh Debian 12 machine.
#   make demo   install what is missing, build, render the demo scene to demo.png
#   make test   install what is missing, build, run the whole test suite
# BUILD selects the build directory; SANITIZE=ON builds with ASan and UBSan.

BUILD    ?= build
SANITIZE ?= OFF
JOBS     ?= $(shell nproc)
BUILD_TYPE ?= $(if $(filter ON,$(SANITIZE)),RelWithDebInfo,Release)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVEXLAR_SANITIZE=$(SANITIZE)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/src/host/vexlar -o demo.png

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD)
