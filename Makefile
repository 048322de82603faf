# Front door of the build. CMake does the work; these targets only wire up the steps.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure check demo clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)

deps:
	scripts/install-deps

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

check: deps
	$(MAKE) all
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

demo: deps
	$(MAKE) all
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD)
