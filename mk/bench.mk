# Benchmark of the module against the pure-Python baseline in bench/.
#   make bench          full run (about a minute and a half), with the million-call memory loop
#   make bench-quick    a few seconds: proves the benchmark runs and prints its table
.PHONY: bench bench-quick

bench: $(VENV_PYTHON)
	$(VENV_PYTHON) -m pip install --quiet .
	$(VENV_PYTHON) bench/bench.py

bench-quick: $(VENV_PYTHON)
	$(VENV_PYTHON) -m pip install --quiet .
	$(VENV_PYTHON) bench/bench.py --quick
