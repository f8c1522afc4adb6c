# Vesquin: `make play` sets up, builds and starts the game; `make check` sets up, builds and
# runs every test (also under AddressSanitizer and UndefinedBehaviorSanitizer); `make bench`
# builds and runs the sound benchmarks (the latency one under Xvfb).

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)

.PHONY: deps build play check test test-sanitized bench assets clean

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

check: test test-sanitized fuzz-check

bench: build
	./$(BUILD)/bin/vesquin-bench-sound
	xvfb-run -a ./$(BUILD)/bin/vesquin-bench-latency

assets:
	bash assets/generate.sh

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)

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
