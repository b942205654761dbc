# Front door of the build: every target drives CMake. `make demo` and `make test` do all
# set-up on a fresh machine (missing Debian packages are installed by cmake/deps.sh).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure demo test sanitize bench package install clean

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
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-bench
