# Set-up and everyday commands. `make run` and `make test` work on a fresh
# Debian 12 machine: missing build packages are installed with apt-get.
#
#   make run            build the program and the demo tables, then group the
#                       bundled demo cases
#   make test           build, then run the whole test suite
#   make test SANITIZE=1   the same under AddressSanitizer and UBSan
#   make bench          build and run the benchmarks, then the whole program on
#                       a generated million-line file, then a load on tallow serve
#   make fuzz           build the libFuzzer targets with clang (ASan, UBSan) and
#                       run each for FUZZ_SECONDS on a copy of its corpus

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
                   libbenchmark-dev libcli11-dev libfmt-dev libssl-dev \
                   nlohmann-json3-dev time libcpp-httplib-dev \
                   python3-dev pybind11-dev python3-pybind11 python3-pytest python3-pandas

# The page of `tallow serve` is tested in headless Chromium, driven by Selenium.
TEST_PACKAGES := chromium chromium-driver python3-selenium

# Fuzzing: clang 14 with libFuzzer, AddressSanitizer and UBSan in build-fuzz.
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 30
FUZZ_CXX      ?= clang++
FUZZ_TARGETS  := case_line table_file dxtab sgtab dgtab cctab rdrg table_source service
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: all deps configure build run test test-deps bench clean fuzz fuzz-deps fuzz-build

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

# The demo needs only the program and the demo tables; the tests, benchmarks
# and fuzz targets are built by `make test`.
run: configure
	cmake --build $(BUILD) -j$(JOBS) --target tallow demo_tables
	./data/demo/run.sh $(BUILD)

test-deps:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(DEBIAN_PACKAGES) $(TEST_PACKAGES)"

test: test-deps build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

bench: build
	$(BUILD)/bench/tallow_bench
	bench/whole_program.sh $(BUILD)
	/usr/bin/python3 bench/serve_load.py $(BUILD)

fuzz-deps:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(DEBIAN_PACKAGES) $(FUZZ_PACKAGES)"

fuzz-build: fuzz-deps
	CXX=$(FUZZ_CXX) cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTALLOW_LIBFUZZER=ON \
	  -DTALLOW_SANITIZE=ON -DTALLOW_BUILD_TESTS=OFF -DTALLOW_BUILD_BENCH=OFF \
	  "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=fuzzer-no-link"
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_write_seeds $(addprefix fuzz_,$(FUZZ_TARGETS))

# Each target runs on a fresh working copy of its committed and generated
# seeds; a crash leaves its input in $(FUZZ_BUILD)/crashes/TARGET/ and fails.
fuzz: fuzz-build
	rm -rf $(FUZZ_BUILD)/seeds $(FUZZ_BUILD)/work $(FUZZ_BUILD)/crashes
	$(FUZZ_BUILD)/fuzz/fuzz_write_seeds $(FUZZ_BUILD)/seeds data/demo
	@failed=""; for t in $(FUZZ_TARGETS); do \
	  work=$(FUZZ_BUILD)/work/$$t; crashes=$(FUZZ_BUILD)/crashes/$$t; \
	  mkdir -p $$work $$crashes; \
	  cp fuzz/corpus/$$t/* $$work/ 2>/dev/null || true; \
	  cp $(FUZZ_BUILD)/seeds/$$t/* $$work/ 2>/dev/null || true; \
	  echo "== fuzz_$$t: $(FUZZ_SECONDS) s on $$(ls $$work | wc -l) seeds"; \
	  if $(FUZZ_BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	       -print_final_stats=1 -artifact_prefix=$$crashes/ $$work \
	       > $(FUZZ_BUILD)/work/$$t.log 2>&1; then \
	    grep -E '^Done [0-9]+ runs' $(FUZZ_BUILD)/work/$$t.log || tail -n 3 $(FUZZ_BUILD)/work/$$t.log; \
	  else \
	    tail -n 40 $(FUZZ_BUILD)/work/$$t.log; failed="$$failed fuzz_$$t"; \
	  fi; \
	done; \
	if [ -n "$$failed" ]; then echo "fuzz: crashes in$$failed (inputs in $(FUZZ_BUILD)/crashes)"; exit 1; fi; \
	echo "fuzz: no crash"

clean:
	rm -rf build build-sanitize $(FUZZ_BUILD)
