# Front door of the build: every target drives CMake. `make demo` and `make test` do all
# set-up on a fresh machine (missing Debian packages are installed by cmake/deps.sh).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure demo test sanitize valgrind fuzz test-arm64 bench package install clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@sh cmake/deps.sh build

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

demo: all
	$(BUILD)/tools/kaldro demo

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALDRO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-sanitize -j$(JOBS)
	ctest --test-dir $(BUILD)-sanitize --output-on-failure -j$(JOBS)

# The whole suite under valgrind's memcheck, no error and no definite leak allowed.
valgrind: all
	@sh cmake/deps.sh valgrind
	sh cmake/valgrind.sh $(BUILD) $(JOBS)

# Every fuzz target (clang, libFuzzer, ASan and UBSan) for FUZZ_RUNS executions or
# FUZZ_SECONDS seconds each (60 s when neither is given; with both, whichever comes
# first), in FUZZ_JOBS parallel processes per target, FUZZ_TARGETS naming a subset
# ("json genome"). Executions, time and rate per target are printed and kept in
# $(BUILD)-fuzz/fuzz-summary.txt; findings go to $(BUILD)-fuzz/findings/<target>/.
FUZZ_SECONDS ?=
FUZZ_RUNS ?=
FUZZ_JOBS ?= 1
FUZZ_TARGETS ?=
fuzz: deps
	@sh cmake/deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKALDRO_FUZZ=ON -DKALDRO_SANITIZE=ON -DKALDRO_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target fuzz_all
	FUZZ_JOBS=$(FUZZ_JOBS) FUZZ_TARGETS="$(FUZZ_TARGETS)" \
	  sh fuzz/run.sh $(BUILD)-fuzz "$(FUZZ_SECONDS)" "$(FUZZ_RUNS)"

# The 64-bit Arm build: cross-compiled with Debian's aarch64 toolchain and the whole
# suite run under qemu-aarch64 (cmake/arm64-deps.sh installs what is missing).
test-arm64:
	@sh cmake/arm64-deps.sh
	cmake -S . -B $(BUILD)-arm64 -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)-arm64 -j$(JOBS)
	ctest --test-dir $(BUILD)-arm64 --output-on-failure -j$(JOBS)

# Benchmarks (not part of `make test`): peers come from bench/setup-peers.sh.
bench: deps
	@sh bench/setup-peers.sh
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DKALDRO_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-bench -j$(JOBS)
	sh bench/run.sh $(BUILD)-bench

# A Debian package of the library, header and tool (CPack), in build/package/.
package: all
	cd $(BUILD) && cpack

PREFIX ?= /usr/local
install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-bench $(BUILD)-fuzz $(BUILD)-arm64
