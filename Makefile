# make demo   install what is missing, build, and run the demonstration
# make test   install what is missing, build, and run the test suite
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev \
           libeigen3-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@./scripts/install-deps.sh $(PACKAGES)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/tools/cisffc/cisffc demo --out $(BUILD)/demo

# make bench BENCH_ARGS=--quick   the runs only at the sizes the targets name
bench: build
	$(BUILD)/bench/ffc_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
