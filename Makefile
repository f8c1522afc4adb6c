# Vesquin: `make play` sets up, builds and starts the game; `make check` sets up, builds and
# runs every test (also under AddressSanitizer and UndefinedBehaviorSanitizer, the mixer's
# thread tests under ThreadSanitizer, the browser build in headless firefox-esr and chromium,
# and the Windows build under Wine); `make bench` builds and runs the sound benchmarks (the
# latency one under Xvfb, then everything heard through a private PulseAudio server and a
# private PipeWire, then the browser build's figures in both browsers, then the Windows
# build's under Wine); `make web` builds the game for web browsers into build-web/site;
# `make windows` cross-builds the game for Windows into build-windows (mingw-w64); `make dist`
# makes the release packages in dist/ from a fresh build folder.

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
DIST_BUILD ?= build-dist
WEB_BUILD ?= build-web
WINDOWS_BUILD ?= build-windows
JOBS ?= $(shell nproc)

.PHONY: deps build play check format-check test test-sanitized test-thread test-web web windows test-windows bench assets clean dist

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

play: build
	./$(BUILD)/bin/vesquin

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-sanitized: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESQUIN_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j$(JOBS) -LE no-sanitize

# The mixer's tests under ThreadSanitizer: the game thread and the audio thread.
test-thread: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESQUIN_THREAD_SANITIZE=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target vesquin_mixer_tests
	TSAN_OPTIONS=halt_on_error=1 ./$(TSAN_BUILD)/bin/vesquin_mixer_tests --gtest_filter='MixerThreads.*'

web: deps
	bash web/build.sh $(WEB_BUILD)

test-web: build web
	bash web/tests/run.sh $(BUILD) $(WEB_BUILD)/site

# The game for Windows, cross-built with mingw-w64: vesquin.exe, vesquin-details.exe and the
# tests, beside the game folder's data.
windows: deps
	bash windows/build.sh $(WINDOWS_BUILD)

# The Windows build's checks under Wine: its release zip, unpacked into a folder whose name has a
# space and a non-ASCII letter, played against vesquin-sim.
test-windows: build windows
	bash windows/make_zip.sh $(WINDOWS_BUILD) $(WINDOWS_BUILD)/dist
	bash windows/tests/run.sh $(WINDOWS_BUILD) $(BUILD)/bin $(WINDOWS_BUILD)/dist/vesquin-*-windows-x86_64.zip

# Every C and C++ file in the house style of .clang-format (scripts/check-format.sh --fix formats).
format-check: deps
	bash scripts/check-format.sh

check: format-check test test-sanitized test-thread test-web test-windows fuzz-check

bench: build web windows
	./$(BUILD)/bin/vesquin-bench-sound
	xvfb-run -a ./$(BUILD)/bin/vesquin-bench-latency
	bash bench/pulse_session.sh $(BUILD)/bin
	SERVER=pipewire bash bench/pulse_session.sh $(BUILD)/bin
	bash web/tests/bench.sh $(WEB_BUILD)/site
	bash windows/bench.sh $(WINDOWS_BUILD) $(BUILD)/bin

assets:
	bash assets/generate.sh

# The portable game folder (tar.gz), the Debian package and the Windows zip. VESQUIN_SCORE_SERVER
# names the score table the release sends to: https://host[:port] (the default, over TLS),
# http://host[:port], or host[:port] as older releases wrote it, for plain HTTP.
VESQUIN_SCORE_SERVER ?= https://scores.example.org
dist: deps
	rm -rf $(DIST_BUILD) dist
	cmake -S . -B $(DIST_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
		-DVESQUIN_SCORE_SERVER=$(VESQUIN_SCORE_SERVER)
	cmake --build $(DIST_BUILD) -j$(JOBS) --target vesquin vesquin-details vesquin_package_files
	cd $(DIST_BUILD) && cpack -G "TGZ;DEB" -B packages
	mkdir -p dist
	cp $(DIST_BUILD)/packages/*.tar.gz $(DIST_BUILD)/packages/*.deb dist/
	VESQUIN_SCORE_SERVER=$(VESQUIN_SCORE_SERVER) bash windows/build.sh $(DIST_BUILD)/windows vesquin vesquin-details
	bash windows/make_zip.sh $(DIST_BUILD)/windows dist

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(DIST_BUILD) $(WEB_BUILD) $(WINDOWS_BUILD) dist

# `make fuzz` builds the libFuzzer targets of fuzz/ with clang in their own build folder and
# runs each for FUZZ_TIME seconds; `make check` runs each for FUZZ_CHECK_TIME seconds.
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME ?= 300
FUZZ_CHECK_TIME ?= 30
.PHONY: fuzz fuzz-build fuzz-check clean-fuzz

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESQUIN_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target vesquin_fuzz

fuzz: fuzz-build
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_TIME)

fuzz-check: fuzz-build
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_CHECK_TIME)

clean: clean-fuzz
clean-fuzz:
	rm -rf $(FUZZ_BUILD)
