# The two commands: `make demo` runs the main job, `make test` builds and runs
# every test. Both install dependencies and build first.

JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
FUZZ_SECONDS ?= 60
FUZZERS ?= ChunkNode GeoChunk CaptureConversion CameraModelText SceneFile Stl Obj MeshFile
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

.PHONY: all deps build test test-sanitize test-tsan demo bench fuzz format clean

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
	  ctest --output-on-failure -j $(JOBS)

# The tests of threaded code (CTest label "threaded") under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) $(CMAKE_COMMON) -DTARVELIN_SANITIZERS=thread -DTARVELIN_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 ctest -L threaded --output-on-failure -j $(JOBS)

# Until the virtual rig exists: render the patterns of a coded-light and a
# PSK scan, hand each pattern image back as its own camera frame, decode, and
# show what came out (report.json, PFM maps and *_preview.png in build/demo).
DEMO_DIR = build/demo
demo: build
	$(TARVELIN) --version
	rm -rf $(DEMO_DIR)
	@for mode in coded psk; do \
	  d=$(DEMO_DIR)/$$mode; \
	  $(TARVELIN) patterns --projector 1280x800 --mode $$mode --gamma 1 --texture grey --out $$d/patterns || exit 1; \
	  mkdir -p $$d/frames && cp $$d/patterns/scan.xml $$d/frames/ || exit 1; \
	  for f in $$d/patterns/pattern_*.png; do \
	    n=$$(basename $$f); ln -s ../patterns/$$n $$d/frames/frame_$${n#pattern_} || exit 1; \
	  done; \
	  $(TARVELIN) decode --frames $$d/frames --out $$d/decoded || exit 1; \
	  cat $$d/decoded/report.json; \
	done

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
