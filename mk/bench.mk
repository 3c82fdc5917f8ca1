# Benchmark of the module against the pure-Python recipes in bench/ (standard library, orjson).
#   make bench          full run (a few minutes), with the million-call memory loop
#   make bench-quick    under half a minute: proves the benchmark runs and prints everything
#   make bench-compare BASELINE=path/to/norvik_auth...so    this build against another, interleaved
# The bench extra brings orjson, a benchmark-only dependency; the module itself needs nothing.
# Both runs take SHA-256's cost per block, HMAC's and the signature compare's from
# bench/signature_cost.cpp, built here by CMake with the core (Release, as the module) in
# build/native-bench.
.PHONY: bench bench-quick bench-compare signature-cost

NATIVE_BENCH := build/native-bench
SIGNATURE_COST := $(NATIVE_BENCH)/signature_cost

# Configured once; CMake rebuilds what changed.
signature-cost: $(VENV)/.build-tools
	test -f $(NATIVE_BENCH)/CMakeCache.txt || PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake -S . -B $(NATIVE_BENCH) \
	    -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVIK_PYTHON_MODULE=OFF -DNORVIK_NATIVE_BENCH=ON >/dev/null
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake --build $(NATIVE_BENCH) --target signature_cost

bench: $(INSTALLED) $(call extras_stamp,bench) signature-cost
	$(VENV_PYTHON) bench/bench.py --signature-cost $(SIGNATURE_COST)

bench-quick: $(INSTALLED) $(call extras_stamp,bench) signature-cost
	$(VENV_PYTHON) bench/bench.py --quick --signature-cost $(SIGNATURE_COST)

bench-compare: $(INSTALLED)
	@test -n "$(BASELINE)" || { echo "usage: make bench-compare BASELINE=path/to/norvik_auth...so"; exit 2; }
	$(VENV_PYTHON) bench/compare_builds.py $(BASELINE)
