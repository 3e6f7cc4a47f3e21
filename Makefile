# Thin wrapper over the CMake presets (CMakePresets.json). The real build is CMake + Ninja.
#   make            release build, build/dhcpftr links to it
#   make run        start the simulated switch (ARGS="--level 15 --startup-config startup-config.conf" by
#                   default: the file is replayed at boot when it exists and "write memory" saves to it)
#   make test       debug build, all tests
#   make check      test + AddressSanitizer/UBSan + ThreadSanitizer (channel tests) + fuzz targets (a short run
#                   each) + PowerPC under qemu-ppc
#   make fuzz       every fuzz target for FUZZ_SECONDS seconds (default 60), new inputs kept in build/fuzz/work
#   make bench      benchmarks
#   make soak       the randomized mirror test for 100,000 steps (SOAK_SEEDS, SOAK_STEPS, SOAK_FIRST_SEED)
#   make package    the Debian package of the release build: build/package/dhcpftr_VERSION_ARCH.deb
#   make clean      remove build/

SHELL := bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := all

ARGS ?= --level 15 --startup-config startup-config.conf
JOBS := 2

CMAKE ?= cmake
CTEST ?= ctest
CTEST_FLAGS := --output-on-failure -j$(JOBS)

# Configure (cached after the first time) and build one preset: $(call build,PRESET)
build = $(CMAKE) --preset $(1) >/dev/null && $(CMAKE) --build --preset $(1)
header = printf '\n==== %s\n' $(1)

.PHONY: all run test check check-asan check-tsan check-fuzz check-ppc fuzz bench clean deps

deps:
	@scripts/deps.sh

all: deps
	@$(CMAKE) --preset release >/dev/null
	@$(CMAKE) --build --preset release --target dhcpftr dhcpftr-cli
	@ln -sfn release/dhcpftr build/dhcpftr
	@ln -sfn release/dhcpftr-cli build/dhcpftr-cli

run: all
	build/release/dhcpftr $(ARGS)

test: deps
	@$(call header,"debug build and tests")
	@$(call build,debug)
	@$(CTEST) --preset debug $(CTEST_FLAGS)

check-asan: deps
	@$(call header,"AddressSanitizer + UBSan build and tests")
	@$(call build,asan)
	@$(CTEST) --preset asan $(CTEST_FLAGS)

# The channel tests if there are any (label "channel"), otherwise the whole suite.
check-tsan: deps
	@$(call header,"ThreadSanitizer build and tests")
	@$(call build,tsan)
	@if $(CTEST) --preset tsan -N -L '^channel$$' | grep -Eq '^Total Tests: [1-9]'; then \
	  echo "(channel tests)"; $(CTEST) --preset tsan $(CTEST_FLAGS) -L '^channel$$'; \
	else \
	  echo "(no channel tests: the whole suite)"; $(CTEST) --preset tsan $(CTEST_FLAGS); \
	fi

# Each fuzz target on its committed inputs, then DHCPFTR_FUZZ_RUNS (2000) inputs fuzzed from them.
check-fuzz: deps
	@$(call header,"fuzz targets: libFuzzer with AddressSanitizer + UBSan")
	@$(call build,fuzz)
	@$(CTEST) --preset fuzz $(CTEST_FLAGS)

FUZZ_SECONDS ?= 60
fuzz: deps
	@$(call header,"fuzz targets for $(FUZZ_SECONDS) s each")
	@$(call build,fuzz)
	@for target in build/fuzz/tests/fuzz/fuzz_*; do \
	  name=$${target##*/fuzz_}; \
	  echo "---- $$name"; \
	  FUZZ_WORK_DIR=build/fuzz/work/$$name tests/fuzz/run.sh $$target $$name fuzz \
	    -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=build/fuzz/fuzz-artifacts/$$name-; \
	done

check-ppc: deps
	@$(call header,"PowerPC 32-bit big-endian cross build and tests under qemu-ppc")
	@$(call build,ppc)
	@$(CTEST) --preset ppc $(CTEST_FLAGS)

# Sequential on purpose: each step uses both cores, and the first failure stops the run.
check: deps
	@start=$$SECONDS; \
	for step in test check-asan check-tsan check-fuzz check-ppc; do \
	  t=$$SECONDS; \
	  $(MAKE) --no-print-directory $$step; \
	  printf '==== %s passed in %ds\n' $$step $$((SECONDS - t)); \
	done; \
	printf '\n==== make check passed in %ds\n' $$((SECONDS - start))

bench: deps
	@$(call header,"benchmarks")
	@$(call build,bench)
	@if [[ -x build/bench/bench/dhcpftr_bench ]]; then \
	  build/bench/bench/dhcpftr_bench; \
	else \
	  echo "no benchmarks built yet (bench/*.cpp)"; \
	fi
	@bench/live_bench.sh build/bench/dhcpftr

clean:
	rm -rf build

# make soak: the randomized topology mirror test for SOAK_SEEDS seeds from SOAK_FIRST_SEED, SOAK_STEPS steps each,
# on the release build; a divergence is printed with its seed and minimised to the shortest step sequence.
SOAK_SEEDS ?= 8
SOAK_STEPS ?= 12500
SOAK_FIRST_SEED ?= 1
.PHONY: soak
soak: deps
	@$(call header,"soak")
	@$(CMAKE) --preset release >/dev/null
	@$(CMAKE) --build --preset release --target dhcpftr_soak
	@build/release/tests/dhcpftr_soak $(SOAK_SEEDS) $(SOAK_STEPS) $(SOAK_FIRST_SEED)

# make package: cpack installs what the release build made (it builds nothing itself) into a package
# (packaging/CMakeLists.txt says what goes in).
.PHONY: package
package: deps
	@$(call header,"Debian package")
	@$(CMAKE) --preset release >/dev/null
	@$(CMAKE) --build --preset release --target dhcpftr dhcpftr-cli dhcpftr_package_files
	@cpack --config build/release/CPackConfig.cmake -B build/package
