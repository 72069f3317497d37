# The two set-up commands and their helpers. Every target installs what is missing first.
#   make demo         generate the demo identity, render its idle loop to out/demo.mp4 and out/demo.png,
#                     and make it speak a sentence to out/demo-speech.mp4 and out/demo-speech.png, live
#                     with borrowed teeth, again without them (out/demo-speech-noteeth.*; the mouth two
#                     seconds in, without and with, side by side in out/demo-teeth-compare.png), and to
#                     out/demo-speech-offline.mp4 and .png through the offline stream
#   make test         build and run the test suite (what CI runs)
#   make test-asan    the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   make test-tsan    the suite under ThreadSanitizer
#   make test-long    the long runs CI skips
#   make bench        build and run the benchmarks
#   make fuzz         run every libFuzzer target for FUZZ_SECONDS each (clang; CI never does)
#   make install      install the library, its headers, the ko tool and the Python package into PREFIX
#                     (default /usr/local)

JOBS   ?= $(shell nproc)
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = onnx_codec tessera_json lip_template compose_v2 head_archive tessera_members bank_track
CMAKE_CONFIGURE = cmake -S . -G Ninja -DCMAKE_INSTALL_PREFIX=$(PREFIX)

DEMO_BUNDLE = out/demo-bundle
# The demo face's mouth in its driver frame, for the close-up of the same frame without and with teeth.
DEMO_MOUTH_BOX = iw*0.16:ih*0.17:iw*0.42:ih*0.47
DEMO_SENTENCE = Hello! I am the demo face of libko core. I listen to speech and move my lips with it, \
  twenty five frames a second, on your C P U.

.PHONY: deps build demo test test-asan test-tsan test-long bench fuzz install clean

deps:
	@scripts/install-deps.sh

build: deps
	@$(CMAKE_CONFIGURE) -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

# The library and the tools only, in a tree of their own, so the demo does not wait for the tests.
demo: deps
	@$(CMAKE_CONFIGURE) -B build-demo -DCMAKE_BUILD_TYPE=Release -DKO_BUILD_TESTS=OFF -DKO_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-demo -j $(JOBS) --target ko ko_demo_bundle
	@build-demo/tools/ko_demo_bundle $(DEMO_BUNDLE)
	@build-demo/tools/ko render $(DEMO_BUNDLE) --model render --out out/demo.mp4 --sheet out/demo.png
	@espeak-ng -w out/demo-sentence.wav "$(DEMO_SENTENCE)"
	@build-demo/tools/ko speak $(DEMO_BUNDLE) --motion $(DEMO_BUNDLE)/motion --audio out/demo-sentence.wav \
	  --out out/demo-speech.mp4 --sheet out/demo-speech.png
	@build-demo/tools/ko speak $(DEMO_BUNDLE) --motion $(DEMO_BUNDLE)/motion --audio out/demo-sentence.wav \
	  --no-teeth --out out/demo-speech-noteeth.mp4 --sheet out/demo-speech-noteeth.png
	@ffmpeg -loglevel error -y -ss 2 -i out/demo-speech-noteeth.mp4 -ss 2 -i out/demo-speech.mp4 -frames:v 1 \
	  -filter_complex "[0]crop=$(DEMO_MOUTH_BOX),scale=iw*2:ih*2[a];[1]crop=$(DEMO_MOUTH_BOX),scale=iw*2:ih*2[b];[a][b]hstack" \
	  out/demo-teeth-compare.png
	@build-demo/tools/ko speak $(DEMO_BUNDLE) --motion $(DEMO_BUNDLE)/motion --audio out/demo-sentence.wav \
	  --offline --out out/demo-speech-offline.mp4 --sheet out/demo-speech-offline.png

test: build
	@ctest --test-dir build -j $(JOBS) --output-on-failure -LE long

test-asan: deps
	@$(CMAKE_CONFIGURE) -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKO_SANITIZE_ADDRESS=ON -DKO_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@ctest --test-dir build-asan -j $(JOBS) --output-on-failure -LE long

test-tsan: deps
	@$(CMAKE_CONFIGURE) -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKO_SANITIZE_THREAD=ON -DKO_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@ctest --test-dir build-tsan -j $(JOBS) --output-on-failure -LE long

test-long: build
	@ctest --test-dir build --output-on-failure -L long

bench: build
	@scripts/install-deps.sh --bench
	@$(CMAKE_CONFIGURE) -B build >/dev/null
	@cmake --build build -j $(JOBS)
	@for b in build/bench/ko_bench_*; do "$$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

# Each target's grown corpus stays in build-fuzz/corpus/<target> between runs; the seeds are rewritten
# each time.
fuzz:
	@scripts/install-deps.sh --fuzz
	@cmake -S . -G Ninja -B build-fuzz -DKO_BUILD_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@rm -rf build-fuzz/seeds && mkdir -p $(addprefix build-fuzz/corpus/,$(FUZZ_TARGETS))
	@build-fuzz/tests/fuzz/ko_onnx_codec_seeds build-fuzz/seeds/onnx_codec
	@build-fuzz/tests/fuzz/ko_tessera_seeds build-fuzz/seeds
	@for target in $(FUZZ_TARGETS); do \
	  build-fuzz/tests/fuzz/ko_$${target}_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/$${target}- build-fuzz/corpus/$$target build-fuzz/seeds/$$target || exit 1; \
	done

install: build
	@cmake --install build

clean:
	@rm -rf build build-asan build-tsan build-fuzz build-demo out
