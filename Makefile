# Two entry points for a fresh Debian 12 machine: `make run` and `make test`, each run as the
# user who will use the programs. Both install what is missing first (through sudo, unless
# run as root); nothing else needs root.

BUILD ?= build
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)
PACKAGES := cmake g++ make pkg-config qt6-base-dev libcurl4-openssl-dev zlib1g-dev \
            libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth python3 python3-aiosmtpd \
            zip unzip 7zip faketime iproute2 util-linux libxtst6 libx11-6 strace \
            libisal-dev libarchive-tools curl qt6-translations-l10n desktop-file-utils \
            clang libclang-rt-14-dev openbox libxcb1-dev

.PHONY: deps configure programs build run test test-codec codec-build sanitize sanitize-build fuzz fuzz-build bench

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

# Warnings are errors where developers build (`make test`, CI), not for those who only run it.
WERROR ?= OFF

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WARNINGS_AS_ERRORS=$(WERROR)

# The two programs and what they link, nothing of the tests and benchmarks.
programs: configure
	cmake --build $(BUILD) -j$(JOBS) --target kestrova tamrel

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Starts Kestrova; without a display, run it under xvfb-run (see README).
run: programs
	$(BUILD)/bin/Kestrova.exe

test: WERROR = ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600
	$(MAKE) test-codec

# The engine's reading tests once more, built with the other inflate codec (zlib; ISA-L's igzip
# is the default where libisal-dev is installed):
# only their programs are built, and only their test cases (named Suite.Case) are run.
CODEC_BUILD ?= $(BUILD)-$(OTHER_CODEC)
OTHER_CODEC ?= zlib
CODEC_TESTS := test_zip_zlib test_zip_crypt test_zip_entry_reader test_zip_extract \
               test_zip_archiver test_zip_directory test_zip_corpus zip_corpus_probe
test-codec: codec-build
	cd $(CODEC_BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600 -R '\.' -E _NOT_BUILT
# Locked, so that a second make (CI builds it in the background while `make test` runs) waits
# for the first instead of building the same tree at once.
codec-build: deps
	mkdir -p $(CODEC_BUILD)
	flock $(CODEC_BUILD)/.lock sh -c 'cmake -S . -B $(CODEC_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DKESTROVA_WARNINGS_AS_ERRORS=ON -DZIP_INFLATE_CODEC=$(OTHER_CODEC) && \
	      cmake --build $(CODEC_BUILD) -j$(JOBS) --target $(CODEC_TESTS)'

# The whole suite once more, built by clang with AddressSanitizer and UndefinedBehaviorSanitizer
# (the plain build checks the warnings). Not GCC 12: its check of the object a call through a
# pointer to member function is made on reads a value only its virtual branch sets.
# Leaks of third-party libraries are suppressed in tests/support/lsan.supp, each with its cause.
sanitize: sanitize-build
	cd $(BUILD)-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp \
	    ctest --output-on-failure -j$(JOBS) --timeout 600 $(CTEST_ARGS)
sanitize-build: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WARNINGS_AS_ERRORS=OFF \
	      -DCMAKE_CXX_COMPILER=clang++ -DKESTROVA_SANITIZE=ON
	cmake --build $(BUILD)-asan -j$(JOBS)

# The archive engine's fuzz targets (clang's libFuzzer), the reader's and the writer's side by
# side, each for FUZZ_SECONDS, from the seeds the tests' tools make; what they find lands in
# $(BUILD)-fuzz/crash-* (reader) and $(BUILD)-fuzz/write-crash-* (writer) and fails the run.
FUZZ_SECONDS ?= 90
FUZZ_FLAGS = -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=30 -max_len=262144 \
             -print_final_stats=1
fuzz: fuzz-build
	tests/fuzz/make_seeds.sh $(BUILD)-fuzz/seeds
	mkdir -p $(BUILD)-fuzz/corpus $(BUILD)-fuzz/write-corpus
	$(BUILD)-fuzz/bin/zip_write_fuzz $(FUZZ_FLAGS) -artifact_prefix=$(BUILD)-fuzz/write- \
	    $(BUILD)-fuzz/write-corpus $(BUILD)-fuzz/seeds >$(BUILD)-fuzz/write.log 2>&1 & writer=$$!; \
	$(BUILD)-fuzz/bin/zip_fuzz $(FUZZ_FLAGS) -artifact_prefix=$(BUILD)-fuzz/ \
	    $(BUILD)-fuzz/corpus $(BUILD)-fuzz/seeds; reader=$$?; \
	wait $$writer; written=$$?; echo "== the writer's run:"; tail -n 30 $(BUILD)-fuzz/write.log; \
	[ $$reader -eq 0 ] && [ $$written -eq 0 ]

fuzz-build: deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	      -DKESTROVA_FUZZ=ON
	cmake --build $(BUILD)-fuzz --target zip_fuzz zip_write_fuzz -j$(JOBS)

bench: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done; true
