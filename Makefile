# make demo       install what is missing, build, and run the demonstration
# make test       install what is missing, build, and run the test suite
# make test-asan  the test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#                 with short libFuzzer runs (Clang); any report fails
# make test-tsan  the threaded tests under ThreadSanitizer (Clang)
# make test-windows  the Windows DLLs and cisffc cross-compiled with MinGW-w64,
#                 their OpenCV imports and exports checked, and what runs
#                 without OpenCV run under wine
# make install    install into PREFIX (default /usr/local)
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Aravis (capture, check) is optional in the build but installed here; its
# pkg-config file needs libusb's, which libaravis-dev does not pull in.
PACKAGES = cmake make g++ pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev \
           libeigen3-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev \
           pybind11-dev python3-dev python3-numpy python3-pytest python3-venv python3-pip python3-setuptools python3-wheel \
           libaravis-dev libusb-1.0-0-dev aravis-tools-cli
# Clang and its sanitizer and libFuzzer run-time libraries, for the checking builds.
CHECK_PACKAGES = clang libclang-rt-14-dev
# The Windows cross build, wine to run its programs, and GoogleTest's sources
# to build the tests for Windows.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 googletest
PREFIX ?= /usr/local

.PHONY: all deps check-deps windows-deps configure build test test-asan test-tsan test-windows install demo bench clean

all: build

deps:
	@./scripts/install-deps.sh $(PACKAGES)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

check-deps: deps
	@./scripts/install-deps.sh $(CHECK_PACKAGES)

# Build folders and options are those of CMakePresets.json.
test-asan: check-deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan: check-deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# The headers the cross build borrows (OpenCV's, Eigen, nlohmann-json, CLI11)
# are those of the packages of make test.
windows-deps: deps
	@./scripts/install-deps.sh $(WINDOWS_PACKAGES)

test-windows: windows-deps
	JOBS=$(JOBS) ./scripts/windows/check.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Only the tool and the libraries it links: the demonstration runs nothing else.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target cisffc
	$(BUILD)/tools/cisffc/cisffc demo --out $(BUILD)/demo

# make bench BENCH_ARGS=--quick   the runs only at the sizes the targets name
bench: build
	$(BUILD)/bench/ffc_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-windows
