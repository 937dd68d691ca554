# Set-up and everyday commands. `make run` and `make test` work on a fresh
# Debian 12 machine: missing build packages are installed with apt-get.
#
#   make run            build, then group the bundled demo cases
#   make test           build, then run the whole test suite
#   make test SANITIZE=1   the same under AddressSanitizer and UBSan
#   make bench          build and run the benchmarks

BUILD    ?= build
JOBS     ?= 2
SANITIZE ?=
WERROR   ?=

ifeq ($(SANITIZE),1)
  BUILD := $(BUILD)-sanitize
  CMAKE_FLAGS += -DTALLOW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTALLOW_BUILD_BENCH=OFF
else
  CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=Release
endif
ifeq ($(WERROR),1)
  CMAKE_FLAGS += -DTALLOW_WERROR=ON
endif

DEBIAN_PACKAGES := cmake make g++ pkg-config googletest libgtest-dev libgmock-dev \
                   libbenchmark-dev libcli11-dev libfmt-dev

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:$$missing"; \
	  if [ "$$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./data/demo/run.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

bench: build
	$(BUILD)/bench/tallow_bench

clean:
	rm -rf build build-sanitize
