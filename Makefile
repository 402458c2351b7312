# The two commands of the README. Both install what they need on a fresh
# Debian 12 machine (as root), configure and build; `run` then plays the show,
# `test` runs the whole test suite.
BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES := build-essential cmake pkg-config libsdl2-dev libstb-dev libimgui-dev \
            googletest libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-dejavu-core xvfb xauth

.PHONY: run test build deps clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@./tools/run-show.sh $(BUILD)

clean:
	rm -rf $(BUILD)
