# make demo   sets up what is missing, builds, and runs kavelo on the demo company
# make test   sets up what is missing, builds, and runs every test
# make build  sets up what is missing and builds
# make screenshot  builds and takes docs/window.png: the window in mid-run
# make bench  measures kavelo against SQLite on 200,000 records a file (QUICK=1: 10,000;
#             ROUNDS=R: the fastest of R runs of each)
# make bench-server  kavelo on a throwaway PostgreSQL server beside SQLite (RECORDS=N)
# make install  builds and installs kavelo, kavelo-db, their manual pages, the schema and
#               the README (PREFIX=/usr: under /usr instead of /usr/local; DESTDIR=D: under D)
# make package  builds and makes the Debian package kavelo_VERSION_ARCH.deb in the build folder
BUILD ?= build
JOBS ?= $(shell nproc)

SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = line_fuzz conversion_fuzz connection_file_fuzz record_import_fuzz
BENCH_BUILD ?= build-bench

.PHONY: all build demo test test-sanitize fuzz bench bench-server setup clean install package

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

# A Release build of its own; warnings are the test build's business, and -O3
# brings false alarms of GCC 12 that -O2 does not.
bench: setup
	test -f $(BENCH_BUILD)/build.ninja || cmake -S . -B $(BENCH_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Release -DKAVELO_WERROR=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target kavelo kavelo-db raw_journal statement_times
	BENCH_COMMAND="make bench$(if $(QUICK), QUICK=$(QUICK))$(if $(ROUNDS), ROUNDS=$(ROUNDS))" \
	  ./bench/run.sh $(BENCH_BUILD) $(if $(QUICK),--quick) $(if $(ROUNDS),--rounds $(ROUNDS))

bench-server: setup
	test -f $(BENCH_BUILD)/build.ninja || cmake -S . -B $(BENCH_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Release -DKAVELO_WERROR=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target kavelo kavelo-db
	BENCH_COMMAND="make bench-server$(if $(RECORDS), RECORDS=$(RECORDS))" \
	  ./bench/server.sh $(BENCH_BUILD) $(if $(RECORDS),--records $(RECORDS))

install: build
	$(if $(DESTDIR),DESTDIR='$(DESTDIR)' )cmake --install $(BUILD)$(if $(PREFIX), --prefix '$(PREFIX)')

# cpack's own output names the package; the last line says where it is.
package: build
	cd $(BUILD) && cpack > .cpack-output 2>&1; status=$$?; cat .cpack-output; exit $$status
	@sed -n 's/^CPack: - package: \(.*\) generated\.$$/The package: \1/p' $(BUILD)/.cpack-output

demo: build
	./examples/demo/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

.PHONY: screenshot
screenshot: build
	./scripts/screenshot.sh $(BUILD) docs/window.png
