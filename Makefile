# Vitrelle: every target installs what is missing first (scripts/install-deps).
BUILD         ?= build
ASAN_BUILD    ?= build-asan
RELEASE_BUILD ?= build-release
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
FUZZ_TARGETS  ?=
JOBS          ?= $(shell nproc)
PREFIX        ?= /usr/local
CMAKE_FLAGS   ?=
# The project's own builds treat warnings as errors; a plain cmake build does not.
OWN_FLAGS     := -DVITRELLE_WERROR=ON
TESTDATA_DIR  := $(or $(VITRELLE_TESTDATA),../shared/testdata)

.PHONY: all deps build run test check test-asan test-release install package bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(OWN_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# Opens the window on the sample product.
run: build
	scripts/run-vitrelle $(BUILD)

# The whole suite: a normal build, the same tests under ASan+UBSan, then the Release
# build that `make package` ships: its package extracted and run, the kept fuzz inputs
# replayed through its optimised code.
test: check test-asan test-release

check: build
	@[ -d "$(TESTDATA_DIR)" ] || echo "note: shared test pictures not found in $(TESTDATA_DIR): the tests that read them are skipped"
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVITRELLE_SANITIZE=ON -DVITRELLE_BENCH=OFF $(OWN_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan-peers.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test-release: package
	ctest --test-dir $(RELEASE_BUILD) --output-on-failure -j $(JOBS)

# cmake --install of the normal build; DESTDIR is honoured as well.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, from a Release build of the programs (no test suites or benchmarks):
# $(RELEASE_BUILD)/package/vitrelle_VERSION_ARCH.deb
package: deps
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVITRELLE_TESTS=OFF -DVITRELLE_BENCH=OFF $(OWN_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	cmake --build $(RELEASE_BUILD) --target package

bench: build
	scripts/run-benchmarks $(BUILD)

# Each fuzz target (or those of FUZZ_TARGETS) for FUZZ_SECONDS seconds, e.g.
# make fuzz FUZZ_SECONDS=600 FUZZ_TARGETS=fuzz_gif. A run starts from the kept corpus
# fuzz/corpus/TARGET, which it then merges with what it found (commit the result); inputs
# that make a target fail land in fuzz/crashers/TARGET. make test replays both.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVITRELLE_FUZZ=ON $(OWN_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(FUZZ_BUILD)
