# SPDX-License-Identifier: GPL-3.0-or-later
# Front door of the project. Every target installs what is missing first.
#   make run         build and start the monitor on a simulated board (the demo)
#   make test        build and run every test through CTest
#                    (IMU_QT_MAJOR=6: all of it on Qt 6, in build-qt6)
#   make screenshot  write the window's picture (on a 96-DPI screen) to docs/screenshot.png
#   make bench       build and run the benchmarks (prints figures)
#   make package     build the Debian package $(BUILD)/telvorin-imu_<version>_<arch>.deb
# The toolkit: Qt 5 (the default) or Qt 6, each in a build folder of its own.
IMU_QT_MAJOR ?= 5
export IMU_QT_MAJOR
ifeq ($(IMU_QT_MAJOR),5)
BUILD ?= build
else
BUILD ?= build-qt$(IMU_QT_MAJOR)
endif
JOBS ?= $(shell nproc)

.PHONY: all deps build test run screenshot bench package clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMU_QT_MAJOR=$(IMU_QT_MAJOR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display found: run it under a virtual one with 'xvfb-run -a make run'."; \
	    exit 1; \
	fi
	$(BUILD)/tools/demo/imu-monitor-demo

screenshot: build
	@scripts/install-deps.sh --extra
	SETTLE_SECONDS=6 scripts/screenshot.sh $(BUILD) docs/screenshot.png $(BUILD)/tools/demo/imu-monitor-demo --connect

bench: build
	@scripts/install-deps.sh --extra
	scripts/run-benchmarks.sh $(BUILD)

package: build
	@scripts/install-deps.sh --extra
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
