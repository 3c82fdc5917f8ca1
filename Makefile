# Developer entry points: `make demo` runs the example, `make test` runs the test suite.
PYTHON ?= python3
VENV := .venv
VENV_PYTHON := $(VENV)/bin/python

# The module is installed into .venv once and again only when one of its inputs changed; a stamp
# in .venv marks each install. The build runs without pip's build isolation, with the build tools
# installed into .venv once: an isolated build gets a new temporary environment each time, and
# scikit-build-core then wipes its CMake tree (build/{wheel_tag}, see pyproject.toml), so every
# run compiled everything. Kept, the tree lets Ninja recompile only what a change touched.
# The inputs are the files and directories of the trees that reach the wheel (a directory changes
# when a file is added or removed); README.md and LICENSE reach only its metadata.
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.18" ninja
BUILD_INPUTS := CMakeLists.txt pyproject.toml \
    $(shell find src python stubs -name __pycache__ -prune -o -print 2>/dev/null)
PIP_INSTALL := $(VENV_PYTHON) -m pip install --quiet --disable-pip-version-check
INSTALLED := $(VENV)/.installed
# The stamp of the module installed with extras: extras_stamp(test+examples) for ".[test,examples]".
extras_stamp = $(VENV)/.installed-with-$(1)
comma := ,

.PHONY: demo test clean

$(VENV_PYTHON):
	$(PYTHON) -m venv $(VENV)

$(VENV)/.build-tools: pyproject.toml | $(VENV_PYTHON)
	$(PIP_INSTALL) $(BUILD_TOOLS)
	touch $@

# Each stamp takes the time before its install, so that a file saved during a build counts as
# changed next time.
$(INSTALLED): $(BUILD_INPUTS) $(VENV)/.build-tools
	@touch $@.new
	$(PIP_INSTALL) --no-build-isolation .
	@mv $@.new $@

# A change of the module's sources reinstalls the module alone; the extras are installed again
# only when pyproject.toml changed.
$(VENV)/.installed-with-%: pyproject.toml | $(INSTALLED)
	@touch $@.new
	$(PIP_INSTALL) --no-build-isolation ".[$(subst +,$(comma),$*)]"
	@mv $@.new $@

demo: $(INSTALLED)
	$(VENV_PYTHON) examples/demo.py

test: $(INSTALLED) $(call extras_stamp,test+examples)
	$(VENV_PYTHON) -m pytest

# build/ may hold the unstable chroot: never follow a mount left behind by a killed run into /dev.
clean:
	rm -rf --one-file-system $(VENV) build

# Further targets (benchmark, hardening, typing, packaging) live in mk/, one file per concern.
-include mk/*.mk
