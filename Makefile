# Vesquin: `make play` sets up, builds and starts the game; `make check` sets up, builds and
# runs every test (also under AddressSanitizer and UndefinedBehaviorSanitizer); `make bench`
# builds and runs the sound benchmarks (the latency one under Xvfb); `make web` builds the game
# for web browsers into build-web/site.

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
WEB_BUILD ?= build-web
JOBS ?= $(shell nproc)

.PHONY: deps build play check test test-sanitized test-web web bench bench-web assets clean

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

web: deps
	bash web/build.sh $(WEB_BUILD)

test-web: build web
	bash web/tests/run.sh $(BUILD) $(WEB_BUILD)/site

check: test test-sanitized test-web

bench: build web
	./$(BUILD)/bin/vesquin-bench-sound
	xvfb-run -a ./$(BUILD)/bin/vesquin-bench-latency
	bash web/tests/bench.sh $(BUILD) $(WEB_BUILD)/site

assets:
	bash assets/generate.sh

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WEB_BUILD)
