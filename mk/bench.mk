# Benchmark of the module against the pure-Python recipes in bench/ (standard library, orjson).
#   make bench          full run (a few minutes), with the million-call memory loop
#   make bench-quick    under half a minute: proves the benchmark runs and prints everything
# The bench extra brings orjson, a benchmark-only dependency; the module itself needs nothing.
.PHONY: bench bench-quick

bench: $(INSTALLED) $(call extras_stamp,bench)
	$(VENV_PYTHON) bench/bench.py

bench-quick: $(INSTALLED) $(call extras_stamp,bench)
	$(VENV_PYTHON) bench/bench.py --quick
