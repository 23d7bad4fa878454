# make demo   sets up what is missing, builds, and runs kavelo on the demo company
# make test   sets up what is missing, builds, and runs every test
# make build  sets up what is missing and builds
BUILD ?= build
JOBS ?= $(shell nproc)

SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = line_fuzz conversion_fuzz jet_sql_fuzz connection_file_fuzz record_import_fuzz

.PHONY: all build demo test test-sanitize fuzz setup clean

all: build

setup: $(BUILD)/.packages-ok

$(BUILD)/.packages-ok: scripts/install-packages.sh
	./scripts/install-packages.sh
	mkdir -p $(BUILD) && touch $@

$(BUILD)/build.ninja: CMakeLists.txt | setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: setup
	test -f $(SANITIZE_BUILD)/build.ninja || cmake -S . -B $(SANITIZE_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DKAVELO_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest -j $(JOBS) --output-on-failure --timeout 600

# Each libFuzzer target for FUZZ_SECONDS (clang builds them with ASan and UBSan).
fuzz: setup
	test -f $(FUZZ_BUILD)/build.ninja || CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVELO_FUZZ=ON -DKAVELO_WERROR=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

demo: build
	./examples/demo/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
