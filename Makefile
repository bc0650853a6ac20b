# One-command set-up for a fresh Debian 12 machine.
#   make demo          install what is missing, build the program and the plug-ins only, render demo.png
#   make test          install what is missing (Blender too), build everything, run the whole test suite
#   make fuzz          build the fuzz targets with clang and run each for FUZZ_SECONDS
#   make format        format the C++ sources; make format-check lists unformatted files and fails
# BUILD selects the build directory; SANITIZE=ON builds with ASan and UBSan;
# WERROR=ON turns compiler warnings into errors (CI does).

BUILD      ?= build
SANITIZE   ?= OFF
WERROR     ?= OFF
JOBS       ?= $(shell nproc)
BUILD_TYPE ?= $(if $(filter ON,$(SANITIZE)),RelWithDebInfo,Release)
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
# Rebuilds reuse compiled objects when ccache is installed; paths below the
# clone are taken relative to it, so another clone of the same sources hits
# the same cache.
LAUNCHER   := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR ?= $(CURDIR)

.PHONY: all deps configure build test demo bench fuzz format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(LAUNCHER) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DVEXLAR_SANITIZE=$(SANITIZE) -DVEXLAR_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	@bash scripts/install-deps.sh blender
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Only the program and the plug-ins it loads; the tests and benchmarks wait
# for `make test`.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vexlar
	$(BUILD)/src/host/vexlar -o demo.png

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

# The fuzz targets need clang (libFuzzer); only they (with the code they
# reach: library, host code, plug-ins) are built, by scripts/fuzz.sh, which
# runs each from its seeds in fuzz/corpus/<target> for FUZZ_SECONDS seconds
# and fails when one finds anything. Inputs found go to
# $(FUZZ_BUILD)/corpus, failing inputs to $(FUZZ_BUILD)/artifacts.
fuzz:
	WERROR=$(WERROR) JOBS=$(JOBS) bash scripts/fuzz.sh -t $(FUZZ_SECONDS) -b $(FUZZ_BUILD)

format:
	@bash scripts/install-deps.sh format
	@bash scripts/format.sh

format-check:
	@bash scripts/install-deps.sh format
	@bash scripts/format.sh --check

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
