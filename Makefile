# The commands of the README. They install what they need on a fresh Debian 12
# machine (as root), configure and build; `run` then plays the show, `test`
# runs the whole test suite, `bench` measures the speed of the sound library.
BUILD ?= build
JOBS ?= $(shell nproc)
# The build's own progress, without a line for every folder make enters and leaves.
MAKEFLAGS += --no-print-directory
PACKAGES := build-essential cmake pkg-config libsdl2-dev libstb-dev libimgui-dev \
            googletest libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-dejavu-core xvfb xauth x11-utils xdotool libx11-dev
# make bench also compares with libxmp (a yardstick only: linked into bench/render/xmpcompare alone).
BENCH_PACKAGES := libxmp-dev
BENCH_BUILD ?= build-bench
REPEAT ?= 3
# make fuzz: the libFuzzer targets of fuzz/, built with clang, each run for FUZZ_SECONDS.
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30

# make web: the show and the module player as web pages in build-web/, compiled with Debian's
# emscripten, with the show's data made by the native build; make web-test runs them in headless
# Chromium against the native programs.
WEB_BUILD ?= build-web
WEB_PACKAGES := emscripten node-acorn
WEB_TEST_PACKAGES := chromium
# Debian's emscripten finds its JavaScript parser (node-acorn) there, whichever node is installed.
WEB_ENV := NODE_PATH=/usr/share/nodejs

.PHONY: run test build deps bench bench-deps fuzz fuzz-deps clean web web-deps web-test

# Installs the Debian packages of $(1) that are missing (as root, or through sudo).
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

bench-deps: deps
	$(call install_missing,$(BENCH_PACKAGES))

web-deps: deps
	$(call install_missing,$(WEB_PACKAGES))

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Release build; render speeds of the module corpus per mixer and format, the libxmp comparison and
# the micro-benchmarks (bench/run.sh).
bench: bench-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DMORVA_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benchmarks
	REPEAT=$(REPEAT) ./bench/run.sh $(BENCH_BUILD)

fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -DFUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVA_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	./fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

web: web-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target morva_pictures music morva_resources
	$(WEB_ENV) emcmake cmake -S web -B $(WEB_BUILD)/cmake -DMORVA_NATIVE_BUILD=$(abspath $(BUILD)) \
	  -DMORVA_WEB_OUT=$(abspath $(WEB_BUILD))
	$(WEB_ENV) cmake --build $(WEB_BUILD)/cmake -j $(JOBS)
	@echo "The pages are in $(WEB_BUILD)/. Serve the folder and open it in a browser:"
	@echo "    python3 -m http.server -d $(WEB_BUILD)"
	@echo "    http://127.0.0.1:8000/  (the show: show.html, the module player: player.html)"

web-test: web
	$(call install_missing,$(WEB_TEST_PACKAGES))
	cmake --build $(BUILD) -j $(JOBS) --target morva-capture virezplay
	python3 web/test/run.py $(BUILD) $(WEB_BUILD)

run: build
	@./tools/run-show.sh $(BUILD)

clean:
	rm -rf $(BUILD)
