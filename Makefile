# Front door of the build. CMake does the work; these targets only wire up the steps.
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Qt 5 builds in a folder of its own: the CMake cache of one folder would otherwise keep every
# later plain make on the Qt it was first configured with.
QT_MAJOR := $(if $(findstring -DPANEL_QT_MAJOR=5,$(CMAKE_FLAGS)),5,6)
BUILD ?= $(if $(filter 5,$(QT_MAJOR)),build-qt5,build)
JOBS ?= $(shell nproc)

.PHONY: all deps configure check demo packages clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@scripts/install-deps

configure:
	cmake -S . -B $(BUILD) -DPANEL_QT_MAJOR=$(QT_MAJOR) $(CMAKE_FLAGS)

check: deps
	$(MAKE) all
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# One line while it builds; the whole build output only when the build fails.
demo: deps
	@mkdir -p $(BUILD)
	@echo "demo: building in $(BUILD)/ (output in $(BUILD)/build.log)"
	@$(MAKE) --no-print-directory all > $(BUILD)/build.log 2>&1 \
	  || { cat $(BUILD)/build.log >&2; echo "demo: the build failed (output above, also in $(BUILD)/build.log)" >&2; exit 1; }
	@scripts/demo $(BUILD)

# The Debian packages for this machine and for armhf, checked (scripts/ci-packages).
packages:
	scripts/ci-packages

clean:
	rm -rf $(BUILD)
