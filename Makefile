# make demo  - set up, build the module alone and run examples/quickstart.py
# make test  - set up, build, run the C++ unit tests (ctest) and then pytest
# make bench - set up, build and run the benchmarks
# make plots - set up, build and draw the README's pictures into docs/

PY     := .venv/bin/python
BUILD  := build/py
PIP_BUILD := $(PY) -m pip install -q --no-build-isolation --no-deps \
	-Cbuild-dir=$(BUILD) -Ccmake.define.MIVO_BUILD_TESTS=ON -Ccmake.define.MIVO_BUILD_BENCH=ON .

# The module alone, without the C++ tests and benchmarks, showing the
# compiler's progress; pip's log is kept in build/module.log.
MODULE_BUILD := $(PY) -m pip install -v --no-build-isolation --no-deps \
	-Cbuild-dir=$(BUILD) -Ccmake.define.MIVO_BUILD_TESTS=OFF -Ccmake.define.MIVO_BUILD_BENCH=OFF .

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

bench: build
	@$(BUILD)/mivo_bench --benchmark_min_time=0.2
	@$(PY) bench/bench_strings.py
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/bench_embeddings.py
