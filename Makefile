# make demo  - set up, build and run examples/quickstart.py
# make test  - set up, build, run the C++ unit tests (ctest) and then pytest
# make bench - set up, build and run the benchmarks

PY     := .venv/bin/python
BUILD  := build/py
PIP_BUILD := $(PY) -m pip install -q --no-build-isolation --no-deps \
	-Cbuild-dir=$(BUILD) -Ccmake.define.MIVO_BUILD_TESTS=ON -Ccmake.define.MIVO_BUILD_BENCH=ON .

.PHONY: demo test bench setup build
setup:
	@scripts/setup.sh

build: setup
	@$(PIP_BUILD)

demo: build
	@$(PY) examples/quickstart.py

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2 --timeout 300
	@$(PY) -m pytest -q

bench: build
	@$(BUILD)/mivo_bench --benchmark_min_time=0.2
	@$(PY) bench/bench_strings.py
	@env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/bench_embeddings.py
