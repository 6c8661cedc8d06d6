# make demo  - set up, build the module alone and run examples/quickstart.py
# make check - every test, as CI runs them: make test, make lint, make sanitize, make fuzz SECONDS=20
# make test  - set up, build, run the C++ unit tests (ctest) and then pytest;
#              then test-clang, test-libcxx and cross-aarch64
# make bench - set up, build and run the benchmarks
# make plots - set up, build and draw the README's pictures into docs/
# make test-clang    - C++ tests and pytest again on a Clang build (build/clang)
# make cross-aarch64 - compile the library for 64-bit Arm (build/aarch64)
# make test-libcxx   - pytest on a Clang + libc++ build of the module (build/libcxx)
# make sanitize      - C++ tests and pytest on an ASan + UBSan build (build/sanitize)
# make fuzz SECONDS=n - build the libFuzzer targets (build/fuzz), run each n seconds, and
#              the binding harness n seconds on the sanitizer build (build/sanitize)
# make lint   - ruff on the Python, clang-format's check on the C++, mypy on the examples and benchmarks
# make format - apply clang-format and ruff's fixes

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
CLANG_BUILD := build/clang

.PHONY: demo test bench setup build
setup:
	@scripts/setup.sh

build: setup
	@$(PIP_BUILD)

.PHONY: module plots
module: setup
	@mkdir -p build
	@echo "build: compiling the mivo module (the first build takes a few minutes)"
	@bash -o pipefail -c '$(MODULE_BUILD) 2>&1 | tee build/module.log | { grep --line-buffered -E "^ *\[[0-9]+/[0-9]+\]|error:" || true; }' \
		|| { echo "build failed; the last lines of build/module.log:"; tail -n 40 build/module.log; exit 1; }

demo: module
	@$(PY) examples/quickstart.py

plots: module
	@$(PY) docs/make_plots.py

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2 --timeout 300
	@$(PY) -m pytest -q
	@$(MAKE) --no-print-directory test-clang test-libcxx cross-aarch64

# The same tests on a Clang build with libstdc++: the C++ tests, then pytest
# against the module built there (the identifiers must be the same bytes).
test-clang: setup
	@$(CMAKE) -S . -B $(CLANG_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(NINJA) \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMIVO_BUILD_TESTS=ON \
		-DPython_EXECUTABLE=$(abspath $(PY)) --log-level=WARNING >/dev/null
	@$(CMAKE) --build $(CLANG_BUILD) -j2
	@$(CTEST) --test-dir $(CLANG_BUILD) --output-on-failure -j2 --timeout 300
	@PYTHONPATH=$(CLANG_BUILD) $(PY) -c "import mivo, pathlib; \
		assert pathlib.Path(mivo.__file__).parent.resolve() == pathlib.Path('$(CLANG_BUILD)').resolve(), mivo.__file__"
	@PYTHONPATH=$(CLANG_BUILD) $(PY) -m pytest -q -p no:cacheprovider

# The module with Clang and libc++ (Debian's libc++-dev); the C++ tests are
# left out, Debian's GoogleTest being built against libstdc++.
LIBCXX_BUILD := build/libcxx
test-libcxx: setup
	@$(CMAKE) -S . -B $(LIBCXX_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(NINJA) \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
		-DCMAKE_MODULE_LINKER_FLAGS=-stdlib=libc++ -DPython_EXECUTABLE=$(abspath $(PY)) --log-level=WARNING >/dev/null
	@$(CMAKE) --build $(LIBCXX_BUILD) -j2
	@PYTHONPATH=$(LIBCXX_BUILD) $(PY) -m pytest -q -p no:cacheprovider

.PHONY: test-clang test-libcxx cross-aarch64 sanitize sanitize-build fuzz
cross-aarch64: setup
	@scripts/cross_aarch64.sh

# AddressSanitizer and UndefinedBehaviorSanitizer; the first report stops the
# run. Python itself is not instrumented, so the runtime is preloaded into it
# (leak detection off there: the interpreter keeps its objects to the end).
# Tests that cannot run under it check MIVO_SANITIZER.
SAN_BUILD := build/sanitize
SAN_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
SAN_UBSAN := UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
sanitize-build: setup
	@$(CMAKE) -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(NINJA) \
		-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMIVO_BUILD_TESTS=ON \
		-DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_C_FLAGS_SANITIZE="-O1 -g1" -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1" \
		-DCMAKE_C_FLAGS="$(SAN_FLAGS)" -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(SAN_FLAGS)" \
		-DPython_EXECUTABLE=$(abspath $(PY)) --log-level=WARNING >/dev/null
	@$(CMAKE) --build $(SAN_BUILD) -j2

sanitize: sanitize-build
	@ASAN_OPTIONS=halt_on_error=1 $(SAN_UBSAN) $(CTEST) --test-dir $(SAN_BUILD) --output-on-failure -j2 --timeout 600
	@ASAN_OPTIONS=halt_on_error=1:detect_leaks=0 $(SAN_UBSAN) MIVO_SANITIZER=address,undefined PYTHONPATH=$(SAN_BUILD) \
		LD_PRELOAD=$$(gcc -print-file-name=libasan.so) sh -c '$(PY) -c "import mivo, pathlib; \
		assert pathlib.Path(mivo.__file__).parent.resolve() == pathlib.Path(\"$(SAN_BUILD)\").resolve(), mivo.__file__" \
		&& $(PY) -m pytest -q -p no:cacheprovider'

bench: build
	@$(BUILD)/mivo_bench --benchmark_min_time=0.2
	@$(PY) bench/bench_strings.py
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/bench_embeddings.py

# The C++ sources as clang-format sees them (the generated Unicode tables left out).
CXX_SOURCES = $$(git ls-files '*.cpp' '*.hpp' '*.h' '*.inc' | grep -v 'unicode_tables.inc')
.PHONY: lint format
lint: setup
	@.venv/bin/ruff check --quiet .
	@.venv/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	@.venv/bin/mypy --no-error-summary examples bench
	@echo "lint: ruff, clang-format and mypy found nothing"

format: setup
	@.venv/bin/clang-format -i $(CXX_SOURCES)
	@.venv/bin/ruff check --quiet --fix .

# Every test, in the order CI runs them: the plain build and tests first, so
# that a failure shows early, then the sanitizers, then a short fuzz run.
.PHONY: check
check: test
	@$(MAKE) --no-print-directory lint
	@$(MAKE) --no-print-directory sanitize
	@$(MAKE) --no-print-directory fuzz SECONDS=20

# Fuzz targets (tests/fuzz) with Clang's libFuzzer, SECONDS seconds each,
# then the binding harness as long on the sanitizer build of the modules.
SECONDS ?= 20
fuzz: build sanitize-build
	@scripts/fuzz.sh $(SECONDS)
