# Benchmark of the module against the pure-Python recipes in bench/ (standard library, orjson).
#   make bench          full run (a few minutes), with the million-call memory loop
#   make bench-quick    under half a minute: proves the benchmark runs and prints everything
#   make bench-compare BASELINE=path/to/norvik_auth...so    this build against another, interleaved
# The bench extra brings orjson, a benchmark-only dependency; the module itself needs nothing.
.PHONY: bench bench-quick bench-compare

bench: $(INSTALLED) $(call extras_stamp,bench)
	$(VENV_PYTHON) bench/bench.py

bench-quick: $(INSTALLED) $(call extras_stamp,bench)
	$(VENV_PYTHON) bench/bench.py --quick

bench-compare: $(INSTALLED)
	@test -n "$(BASELINE)" || { echo "usage: make bench-compare BASELINE=path/to/norvik_auth...so"; exit 2; }
	$(VENV_PYTHON) bench/compare_builds.py $(BASELINE)
