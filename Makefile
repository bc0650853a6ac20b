# One-command set-up for a fresh Debian 12 machine.
#   make demo          install what is missing, build the program and the plug-ins only, render demo.png
#   make test          install what is missing, build everything, run the whole test suite
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
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Only the program and the plug-ins it loads; the tests and benchmarks wait
# for `make test`.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vexlar
	$(BUILD)/src/host/vexlar -o demo.png

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

# The fuzz targets need clang (libFuzzer); only they are built. Each runs
# from the seeds in fuzz/corpus/<target> for FUZZ_SECONDS seconds; inputs it
# finds go to $(FUZZ_BUILD)/corpus, failing inputs to $(FUZZ_BUILD)/artifacts.
fuzz:
	@bash scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja $(LAUNCHER) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAR_FUZZ=ON -DVEXLAR_BUILD_TESTS=OFF -DVEXLAR_BUILD_BENCH=OFF \
	  -DVEXLAR_BUILD_HOST=OFF -DVEXLAR_WERROR=$(WERROR)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targa fuzz_gltf
	@for t in targa gltf; do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

format:
	@bash scripts/install-deps.sh format
	@bash scripts/format.sh

format-check:
	@bash scripts/install-deps.sh format
	@bash scripts/format.sh --check

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
