# Two commands do everything on a fresh machine:
#   make run    build in Release and run the program on the bundled example deck
#   make test   build and run the whole test suite
BUILD ?= build
DECK ?= examples/two_stage_rectangular.deck
JOBS ?= $(shell nproc)

.PHONY: all build run test bench sanitize tsan format clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/selquant < $(DECK)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/selquant_bench

sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSELQUANT_SANITIZE=ON -DSELQUANT_BENCH=OFF >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# The end-to-end runs with several threads under the thread sanitizer.
tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELQUANT_TSAN=ON -DSELQUANT_BENCH=OFF >/dev/null
	cmake --build build-tsan -j $(JOBS) --target selquant program_test
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -R 'ThreadCount|Interrupt'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) build-asan build-tsan
