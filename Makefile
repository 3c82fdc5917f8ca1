# Developer entry points: `make demo` runs the example, `make test` runs the test suite.
PYTHON ?= python3
VENV := .venv
VENV_PYTHON := $(VENV)/bin/python

.PHONY: demo test clean

$(VENV_PYTHON):
	$(PYTHON) -m venv $(VENV)

demo: $(VENV_PYTHON)
	$(VENV_PYTHON) -m pip install --quiet .
	$(VENV_PYTHON) examples/demo.py

test: $(VENV_PYTHON)
	$(VENV_PYTHON) -m pip install --quiet ".[test,examples]"
	$(VENV_PYTHON) -m pytest

# build/ may hold the unstable chroot: never follow a mount left behind by a killed run into /dev.
clean:
	rm -rf --one-file-system $(VENV) build

# Further targets (benchmark, hardening, typing, packaging) live in mk/, one file per concern.
-include mk/*.mk
