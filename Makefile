# Top-level entry points. `make` builds the programs (build/Synapsor, build/synapsor-tool and,
# with Open MPI, build/synapsor-mpi) in release mode and no tests; `make test` builds and runs
# every test in the same build directory, so switching between the two rebuilds nothing; `make install PREFIX=/usr/local` (DESTDIR
# honoured) installs programs, library, headers, CMake and pkg-config files, man pages and docs;
# `make package` builds the Debian package synapsor_<version>_<arch>.deb in $(BUILD);
# `make test-asan` runs the tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# `make demo` trains an example (DEMO=iris or DEMO=xor) in a copy under $(BUILD)/demo,
# `make fuzz` builds the libFuzzer targets with clang++ in $(FUZZ_BUILD) and runs each for
# FUZZ_SECONDS seconds (see fuzz/run.sh).
# `make bench` builds a Release tree with the benchmarks in $(BENCH_BUILD) and prints the table
# of the training benchmark (see doc/Performance.md); BENCH_ARGS go to Google Benchmark;
# `make bench-accuracy` prints the time-to-accuracy table of the training methods;
# `make bench-parallel` times a batch epoch on threads against the plain pass.
# Missing tools are installed with apt-get when run as root on Debian (waiting up to
# APT_LOCK_TIMEOUT seconds for another apt process to release the package manager's lock);
# otherwise the exact command to run is printed.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DEMO       ?= iris
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
BENCH_ARGS ?=
ACCURACY_ARGS ?=
FUZZ_SECONDS ?= 600
FUZZ_SEED  ?=
FUZZ_JOBS  ?= 2

APT_PACKAGES := g++ cmake make libgtest-dev libcli11-dev nlohmann-json3-dev libcsv-dev libhwy-dev groff-base \
  libopenmpi-dev openmpi-bin
PACKAGE_APT_PACKAGES := dpkg-dev pkg-config
BENCH_APT_PACKAGES := libbenchmark-dev
FUZZ_APT_PACKAGES := clang libclang-rt-14-dev cmake make libhwy-dev libcli11-dev nlohmann-json3-dev libcsv-dev

.PHONY: all build test test-asan demo deps install package package-deps fuzz fuzz-deps bench bench-deps bench-accuracy bench-parallel clean

all: build

deps:
	@missing=""; \
	command -v g++ >/dev/null 2>&1 || missing="$$missing g++"; \
	command -v cmake >/dev/null 2>&1 || missing="$$missing cmake"; \
	[ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	[ -f /usr/include/CLI/CLI.hpp ] || missing="$$missing libcli11-dev"; \
	[ -f /usr/include/nlohmann/json.hpp ] || missing="$$missing nlohmann-json3-dev"; \
	[ -f /usr/include/csv.h ] || missing="$$missing libcsv-dev"; \
	command -v groff >/dev/null 2>&1 || missing="$$missing groff-base"; \
	[ -f /usr/include/hwy/highway.h ] || [ -f /usr/local/include/hwy/highway.h ] || missing="$$missing libhwy-dev"; \
	ls /usr/lib/*/openmpi/include/mpi.h >/dev/null 2>&1 || missing="$$missing libopenmpi-dev"; \
	command -v mpirun >/dev/null 2>&1 && command -v mpicxx >/dev/null 2>&1 || missing="$$missing openmpi-bin"; \
	scripts/install-missing.sh "$$missing" "$(APT_PACKAGES)"

# The build directory starts in release mode without tests; `make test` switches the tests on
# once, and from then on `make` still builds only the programs (no flag changes, no rebuild).
$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSYNAPSOR_TESTS=OFF $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target programs

test: deps $(BUILD)/CMakeCache.txt
	@grep -q '^SYNAPSOR_TESTS:BOOL=ON' $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DSYNAPSOR_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Builds what the install rules need (not the tests), then installs it under PREFIX.
install: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target programs synapsor man
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# dpkg-shlibdeps (dpkg-dev) finds the package's dependencies; pkg-config is what the install
# check builds the embedding example with.
package-deps:
	@missing=""; \
	command -v dpkg-shlibdeps >/dev/null 2>&1 || missing="$$missing dpkg-dev"; \
	command -v pkg-config >/dev/null 2>&1 || missing="$$missing pkg-config"; \
	scripts/install-missing.sh "$$missing" "$(PACKAGE_APT_PACKAGES)"

package: deps package-deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target programs synapsor man
	cd $(BUILD) && cpack -G DEB

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) -DSYNAPSOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)

test-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

# The example's files are copied into $(BUILD)/demo and the program runs there, so the
# example's parameter file is used unchanged and the trained network lands in the build tree.
demo: build
	@test -f examples/$(DEMO)/$(DEMO).par || { echo "No example examples/$(DEMO)"; exit 1; }
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo
	@cp examples/$(DEMO)/$(DEMO).par examples/$(DEMO)/$(DEMO).wgt examples/$(DEMO)/$(DEMO).dat $(BUILD)/demo/
	@echo "Training examples/$(DEMO): epoch and error per line"
	@cd $(BUILD)/demo && $(abspath $(BUILD))/Synapsor $(DEMO).par
	@echo "Trained network written to $(BUILD)/demo/$(DEMO)-trained.wgt"

# The fuzz build needs clang++ with its libFuzzer runtime (checked by linking an empty target),
# cmake, and the libraries of synapsor-tool, whose import, preparation and plot code is fuzzed;
# it builds no tests.
fuzz-deps:
	@missing=""; \
	command -v cmake >/dev/null 2>&1 || missing="$$missing cmake"; \
	echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' | \
	  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - >/dev/null 2>&1 || \
	  missing="$$missing clang libclang-rt-14-dev"; \
	[ -f /usr/include/hwy/highway.h ] || [ -f /usr/local/include/hwy/highway.h ] || missing="$$missing libhwy-dev"; \
	[ -f /usr/include/CLI/CLI.hpp ] || missing="$$missing libcli11-dev"; \
	[ -f /usr/include/nlohmann/json.hpp ] || missing="$$missing nlohmann-json3-dev"; \
	[ -f /usr/include/csv.h ] || missing="$$missing libcsv-dev"; \
	scripts/install-missing.sh "$$missing" "$(FUZZ_APT_PACKAGES)"

$(FUZZ_BUILD)/CMakeCache.txt: | fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -DSYNAPSOR_FUZZ=ON -DSYNAPSOR_TESTS=OFF -DSYNAPSOR_TOOL=ON \
	  -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_ARGS)

# A fuzz build configured before the tool's targets existed is switched to build the tool.
fuzz: fuzz-deps $(FUZZ_BUILD)/CMakeCache.txt
	@grep -q '^SYNAPSOR_TOOL:BOOL=ON' $(FUZZ_BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(FUZZ_BUILD) -DSYNAPSOR_TOOL=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_SEED=$(FUZZ_SEED) fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_JOBS)

# The data set file the reading case needs (50 MB) is written once into $(BENCH_BUILD).
$(BENCH_BUILD)/CMakeCache.txt: | deps bench-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DSYNAPSOR_BENCH=ON \
	  -DSYNAPSOR_TESTS=OFF $(CMAKE_ARGS)

bench-deps:
	@missing=""; \
	[ -f /usr/include/benchmark/benchmark.h ] || [ -f /usr/local/include/benchmark/benchmark.h ] || missing="$$missing libbenchmark-dev"; \
	scripts/install-missing.sh "$$missing" "$(BENCH_APT_PACKAGES)"

bench: deps bench-deps $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target TrainKernelBench
	cd $(BENCH_BUILD) && ./bench/TrainKernelBench $(BENCH_ARGS)

# A batch epoch of 784-256-10 over 2,000 rows: the plain pass, and split over 1 and 2 threads.
bench-parallel: deps bench-deps $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target ParallelEpochBench
	cd $(BENCH_BUILD) && ./bench/ParallelEpochBench $(BENCH_ARGS)

# Epochs and seconds to a test accuracy on the bundled digits per training method
# (doc/Performance.md); ACCURACY_ARGS: the target accuracy and the seconds per setting.
bench-accuracy: deps bench-deps $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target TimeToAccuracy synapsor-tool
	bench/time-to-accuracy.sh $(BENCH_BUILD) $(ACCURACY_ARGS)

clean:
	rm -rf $(BUILD) $(BUILD)-shared $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
