# Two commands do everything on a fresh machine:
#   make run    build in Release and run the program on the bundled example deck
#   make test   build and run the whole test suite
BUILD ?= build
DECK ?= examples/two_stage_rectangular.deck
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench sanitize tsan fuzz format clean r-deps r r-check python-deps python python-test browser-test

all: build

# Debian's packages the build needs, installed where missing.
PACKAGES = cmake g++ libgtest-dev libbenchmark-dev libtomlplusplus-dev libnlopt-cxx-dev node-d3
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | \
	  grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo installing $$missing >&2; \
	  { apt-get update && apt-get install -y $$missing; } >/dev/null 2>&1 || \
	  { echo "could not install $$missing (apt-get as root)" >&2; exit 1; }; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Only the program, quietly: its standard output is the report alone (the
# build's output is shown when the build fails).
run: deps
	@mkdir -p $(BUILD)
	@{ cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release && \
	   cmake --build $(BUILD) -j $(JOBS) --target selquant; } > $(BUILD)/run-build.log 2>&1 || \
	  { cat $(BUILD)/run-build.log >&2; exit 1; }
	@./$(BUILD)/selquant < $(DECK)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/selquant_bench

sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSELQUANT_SANITIZE=ON -DSELQUANT_BENCH=OFF >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# The end-to-end runs with several threads under the thread sanitizer.
tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELQUANT_TSAN=ON -DSELQUANT_BENCH=OFF >/dev/null
	cmake --build build-tsan -j $(JOBS) --target selquant program_test
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -R 'ThreadCount|Interrupt'

# The deck reader under libFuzzer for FUZZ_SECONDS (clang and its runtime are
# installed from Debian's packages where missing). New inputs go to
# build-fuzz/corpus; the seeds in tests/fuzz/corpus are read, not written.
FUZZ_SECONDS ?= 60
fuzz: deps
	@command -v clang++ >/dev/null && test -n "$$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null)" || \
	  { apt-get update >/dev/null && apt-get install -y clang libclang-rt-dev >/dev/null; }
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELQUANT_FUZZ=ON -DBUILD_TESTING=OFF -DSELQUANT_BENCH=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target deck_fuzz
	mkdir -p build-fuzz/corpus
	./build-fuzz/deck_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus

# The R package (r/): installed into the user's library, or built and checked
# as CRAN would, offline. The engine's sources are copied into it first
# (tools/r_package.sh); R and the packages it needs come from Debian.
R_PACKAGES = r-base-dev r-cran-cpp11 r-cran-testthat r-cran-knitr r-cran-markdown r-cran-cli \
  r-cran-future r-cran-future.apply qpdf
r-deps: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(R_PACKAGES)"

# Built first (R CMD build makes the vignette), then installed with it.
r: r-deps
	tools/r_package.sh
	rm -rf build-r-install && mkdir -p build-r-install
	cd build-r-install && MAKEFLAGS=-j$(JOBS) R CMD build ../r && \
	  MAKEFLAGS=-j$(JOBS) R CMD INSTALL selquant_*.tar.gz

# R CMD check's dependency checks look at an empty local repository, and no
# check goes to the network.
R_CHECK_ENV = _R_CHECK_CRAN_INCOMING_=false _R_CHECK_CRAN_INCOMING_REMOTE_=false \
  _R_CHECK_FORCE_SUGGESTS_=false _R_CHECK_FUTURE_FILE_TIMESTAMPS_=false _R_SHLIB_STRIP_UNNEEDED_=true \
  R_PROFILE_USER=$(CURDIR)/build-r/profile.R MAKEFLAGS=-j$(JOBS)
r-check: r-deps build
	tools/r_package.sh $(BUILD)/selquant
	rm -rf build-r && mkdir -p build-r/repo/src/contrib && touch build-r/repo/src/contrib/PACKAGES
	echo 'options(repos = c(CRAN = "file://$(CURDIR)/build-r/repo"))' > build-r/profile.R
	cd build-r && $(R_CHECK_ENV) R CMD build ../r
	cd build-r && $(R_CHECK_ENV) R CMD check --as-cran --no-manual selquant_*.tar.gz
	@! grep -E '^Status: .*(ERROR|WARNING)' build-r/selquant.Rcheck/00check.log

# The Python module (python/), for Debian's Python: a wheel built offline by
# setuptools with the project's CMake, installed, and its tests run.
PY = /usr/bin/python3
PY_PACKAGES = python3-dev python3-pip python3-setuptools python3-wheel pybind11-dev \
  python3-pybind11 python3-numpy python3-pandas python3-pytest python3-matplotlib python3-distributed
python-deps: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(PY_PACKAGES)"

python: python-deps
	rm -rf build-python/wheel
	$(PY) -m pip wheel --no-build-isolation --no-index --no-deps -w build-python/wheel python/
	$(PY) -m pip install --no-index --no-deps --force-reinstall --break-system-packages \
	  build-python/wheel/selquant-*.whl

# No test collected (status 5) fails like any other.
python-test: python build
	cd python/tests && SELQUANT_CLI=$(CURDIR)/$(BUILD)/selquant $(PY) -m pytest -q -p no:cacheprovider .

# The front's page in headless Chromium, driven by Selenium (Debian's
# chromium, chromium-driver and python3-selenium, installed where missing).
BROWSER_PACKAGES = chromium chromium-driver python3-selenium python3-pytest
browser-test: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(BROWSER_PACKAGES)"
	cd tests/browser && SELQUANT_CLI=$(CURDIR)/$(BUILD)/selquant $(PY) -m pytest -q -p no:cacheprovider .

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-r build-r-install build-python python/build python/*.egg-info
