# The two commands: `make demo` runs the main job, `make test` builds and runs
# every test. Both install dependencies and build first.

JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
FUZZ_SECONDS ?= 60
FUZZERS ?= ChunkNode GeoChunk CaptureConversion CameraModelText SceneFile Stl Obj MeshFile HardwareSetup FlatPlateTarget Ply MeasureTree GenCPAck \
  CameraMemoryRecord MjpgFrame
CMAKE_COMMON = -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
# ccache: paths relative to the checkout, so that clones in other folders
# (CI's) share the cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

RELEASE_DIR = build/release
SANITIZE_DIR = build/sanitize
TSAN_DIR = build/tsan
FUZZ_DIR = build/fuzz
TARVELIN = $(RELEASE_DIR)/apps/tarvelin/tarvelin

.PHONY: all deps build test test-sanitize test-tsan demo studio bench fuzz format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_COMMON)
	cmake --build $(RELEASE_DIR) -j $(JOBS)

test: build
	cd $(RELEASE_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) $(CMAKE_COMMON) -DTARVELIN_SANITIZERS="address;undefined" \
	  -DTARVELIN_BUILD_BENCHMARKS=OFF
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --output-on-failure -j $(JOBS)

# The tests of threaded code (CTest label "threaded") under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) $(CMAKE_COMMON) -DTARVELIN_SANITIZERS=thread -DTARVELIN_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target threaded_tests
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 ctest -L threaded --output-on-failure -j $(JOBS)

# The main job: a turntable run of the headless shell on the virtual rig
# (8 views of the blob, turntable plug-in, alignment, fusion with texture
# and closed holes), exported and scored against the rig's truth (fused.ply,
# fused.obj, fused.3mf, demo.tarvelinproj, demo.log and report.json in
# build/demo).
DEMO_DIR = build/demo
demo: build
	@rm -rf $(DEMO_DIR)
	$(TARVELIN) demo --views 8 --out $(DEMO_DIR)

# The desktop application on the default virtual rig (its data root in
# build/studio-root); without a display it says how to start it under xvfb-run.
STUDIO_ROOT = build/studio-root
studio: deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_COMMON)
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tarvelin-studio
	$(RELEASE_DIR)/apps/tarvelin-studio/tarvelin-studio --root $(STUDIO_ROOT) --rig default

bench: build
	@for b in $(RELEASE_DIR)/bench/*Benchmark; do echo "== $$b"; $$b || exit 1; done

fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTARVELIN_BUILD_FUZZERS=ON -DTARVELIN_BUILD_TESTS=OFF \
	  -DTARVELIN_BUILD_BENCHMARKS=OFF -DTARVELIN_SANITIZERS="address;undefined"
	@for f in $(FUZZERS); do \
	  cmake --build $(FUZZ_DIR) -j $(JOBS) --target $${f}Fuzz || exit 1; \
	  mkdir -p $(FUZZ_DIR)/corpus/$$f; \
	  $(FUZZ_DIR)/fuzz/$${f}Fuzz -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 \
	    $(FUZZ_DIR)/corpus/$$f $$(ls -d fuzz/corpus/$$f 2>/dev/null) || exit 1; \
	done

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

clean:
	rm -rf build
