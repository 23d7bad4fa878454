# make demo   sets up what is missing, builds, and runs kavelo on the demo company
# make test   sets up what is missing, builds, and runs every test
# make build  sets up what is missing and builds
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build demo test setup clean

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

demo: build
	./examples/demo/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
