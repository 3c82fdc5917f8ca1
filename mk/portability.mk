# Portability checks: the suite on every CPython 3.9-3.15, typing (mypy, stubtest), sdist and wheel.
#
#   make test-all-pythons   one venv per CPython 3.9-3.15; install ".[test]"; run the suite
#   make test-python3.X     the same for one version
#   make typecheck          mypy --strict on the companions, examples, benchmark and stub checks,
#                           README's python blocks (each also run), then stubtest and pyright
#   make dist-test          sdist and wheel with `python -m build`; the wheel tested in a fresh venv
#   make sdist-bare         the sdist installed where OpenSSL's headers are hidden (root only)
#   make ci-portability     typecheck, dist-test and sdist-bare, for continuous integration, where the suite
#                           runs on every CPython against its wheel (wheel-test in wheels.mk)
#
# Everything lands in build/portability/ (removed by `make clean`). Interpreters 3.9-3.13 are taken
# from pyenv (newest patch release of each minor version), else from python3.X on PATH. 3.14 and
# 3.15 need a newer C library than this machine's: they run in a Debian unstable chroot under
# build/ (root only), from a copy of the tracked sources.

PORTABILITY_VERSIONS := 3.9 3.10 3.11 3.12 3.13
CHROOT_VERSIONS := 3.14 3.15
PORTABILITY_DIR := build/portability
PYENV_ROOT ?= $(HOME)/.pyenv
# Parallel compile jobs for the CMake builds made by pip and build.
PORTABILITY_JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# The newest interpreter found runs mypy; a pinned mypy keeps results reproducible.
MYPY_REQUIREMENT ?= mypy==2.4.1
# pyright's wheel carries its JavaScript and runs on the system's node; without node it is skipped.
PYRIGHT_REQUIREMENT ?= pyright==1.1.414
BUILD_REQUIREMENT ?= build>=1.2

# The interpreter of one minor version, or nothing. Free-threaded builds ("3.13.0t") are left
# out: the module relies on the interpreter lock.
portability_python = $(or $(shell ls -d $(PYENV_ROOT)/versions/$(1).*/bin/python$(1) 2>/dev/null \
    | grep -E '/versions/$(subst .,\.,$(1))\.[0-9]+/bin/' | sort -V | tail -n 1), \
    $(shell command -v python$(1) 2>/dev/null))
PORTABILITY_FOUND = $(foreach v,$(PORTABILITY_VERSIONS),$(if $(strip $(call portability_python,$(v))),$(v)))
TYPECHECK_VERSION = $(lastword $(PORTABILITY_FOUND))

# Nothing from the caller's environment may redirect the import of norvik_auth to a build tree.
PORTABILITY_ENV := env -u PYTHONPATH -u PYTHONHOME PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 \
    CMAKE_BUILD_PARALLEL_LEVEL=$(PORTABILITY_JOBS)
# Each interpreter builds in its own CMake tree, apart from the tree of `make test`.
PORTABILITY_BUILD_DIR := --config-settings=build-dir=$(CURDIR)/$(PORTABILITY_DIR)/cmake/{wheel_tag}

# Fails unless norvik_auth is imported from the venv's site-packages, not from a source or build tree.
# $(2), if given, is the command prefix that enters the chroot.
define portability_check_installed
$(2) $(PORTABILITY_ENV) $(1)/bin/python -c 'import norvik_auth, sys, sysconfig; \
p = norvik_auth.__file__; assert p.startswith(sysconfig.get_paths()["platlib"]), p; \
print("norvik_auth from", p, "on Python", sys.version.split()[0])'
endef

# The suite, run from outside the checkout so that only the installed module can be imported.
define portability_run_suite
cd $(PORTABILITY_DIR) && $(PORTABILITY_ENV) $(CURDIR)/$(1)/bin/python -m pytest -p no:cacheprovider -q $(CURDIR)/tests
endef

.PHONY: test-all-pythons typecheck dist-test sdist-bare ci-portability \
    $(foreach v,$(PORTABILITY_VERSIONS) $(CHROOT_VERSIONS),test-python$(v))

define portability_version_rules
test-python$(1):
	@if [ -z "$(strip $(call portability_python,$(1)))" ]; then echo "CPython $(1): not found, skipped"; exit 0; fi
	test -x $(PORTABILITY_DIR)/venv-$(1)/bin/python || \
	    $(PORTABILITY_ENV) $(strip $(call portability_python,$(1))) -m venv $(PORTABILITY_DIR)/venv-$(1)
	$(PORTABILITY_ENV) $(PORTABILITY_DIR)/venv-$(1)/bin/python -m pip install --quiet $(PORTABILITY_BUILD_DIR) ".[test]"
	$(call portability_check_installed,$(PORTABILITY_DIR)/venv-$(1))
	$(call portability_run_suite,$(PORTABILITY_DIR)/venv-$(1))
endef
$(foreach v,$(PORTABILITY_VERSIONS),$(eval $(call portability_version_rules,$(v))))

# The Debian unstable chroot, made once (a minute or two) and reused while its stamp is there.
CHROOT := build/unstable-chroot
IN_CHROOT := tools/unstable_chroot.sh run $(CHROOT) --
# Inside the chroot: the source copies, virtual environments and CMake trees.
CHROOT_WORK := /norvik

$(CHROOT)/.ready:
	tools/unstable_chroot.sh create $(CHROOT)

define chroot_version_rules
test-python$(1): $(CHROOT)/.ready
	tools/unstable_chroot.sh copy-sources $(CHROOT) $(CHROOT_WORK)/src-$(1)
	$(IN_CHROOT) test -x $(CHROOT_WORK)/venv-$(1)/bin/python || \
	    $(IN_CHROOT) python$(1) -m venv $(CHROOT_WORK)/venv-$(1)
	$(IN_CHROOT) $(PORTABILITY_ENV) env -C $(CHROOT_WORK)/src-$(1) $(CHROOT_WORK)/venv-$(1)/bin/python -m pip \
	    install --quiet --config-settings=build-dir=$(CHROOT_WORK)/cmake/{wheel_tag} ".[test]"
	$(call portability_check_installed,$(CHROOT_WORK)/venv-$(1),$(IN_CHROOT))
	$(IN_CHROOT) $(PORTABILITY_ENV) env -C $(CHROOT_WORK) $(CHROOT_WORK)/venv-$(1)/bin/python -m pytest \
	    -p no:cacheprovider -q $(CHROOT_WORK)/src-$(1)/tests
endef
$(foreach v,$(CHROOT_VERSIONS),$(eval $(call chroot_version_rules,$(v))))

# Runs every version even after a failure, then prints one line per version and fails if any did.
test-all-pythons:
	@mkdir -p $(PORTABILITY_DIR); : > $(PORTABILITY_DIR)/summary.txt; status=0; \
	for v in $(PORTABILITY_VERSIONS) $(CHROOT_VERSIONS); do \
	    start=$$(date +%s); \
	    if $(MAKE) --no-print-directory test-python$$v > $(PORTABILITY_DIR)/test-python$$v.log 2>&1; \
	    then result=passed; else result=FAILED; status=1; fi; \
	    grep -q "not found, skipped" $(PORTABILITY_DIR)/test-python$$v.log && result="not found, skipped"; \
	    tally=$$(grep -E '^[0-9]+ (passed|failed)|^=+ .*(passed|failed|error)' $(PORTABILITY_DIR)/test-python$$v.log | tail -n 1 | tr -d '='); \
	    echo "CPython $$v: $$result in $$(( $$(date +%s) - start )) s $${tally:+($$(echo $$tally))}" \
	        | tee -a $(PORTABILITY_DIR)/summary.txt; \
	    [ "$$result" = FAILED ] && tail -n 30 $(PORTABILITY_DIR)/test-python$$v.log; \
	done; \
	echo "logs: $(PORTABILITY_DIR)/test-python*.log"; exit $$status

TYPECHECK_VENV := $(PORTABILITY_DIR)/venv-typecheck
typecheck:
	@if [ -z "$(TYPECHECK_VERSION)" ]; then echo "no CPython 3.9-3.13 found"; exit 1; fi
	test -x $(TYPECHECK_VENV)/bin/python || \
	    $(PORTABILITY_ENV) $(strip $(call portability_python,$(TYPECHECK_VERSION))) -m venv $(TYPECHECK_VENV)
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python -m pip install --quiet "$(MYPY_REQUIREMENT)"
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python -m pip install --quiet $(PORTABILITY_BUILD_DIR) ".[examples]"
	$(call portability_check_installed,$(TYPECHECK_VENV))
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python -m mypy --strict --cache-dir $(PORTABILITY_DIR)/mypy-cache \
	    examples/*.py stubs/stub_usage_checks.py bench/*.py
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python stubs/stub_usage_checks.py
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python tools/check_readme_snippets.py README.md
	$(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python -m mypy --strict --cache-dir $(PORTABILITY_DIR)/mypy-cache \
	    python/norvik_binding/__init__.py python/norvik_auth_extras
	cd $(PORTABILITY_DIR) && $(PORTABILITY_ENV) $(CURDIR)/$(TYPECHECK_VENV)/bin/python -m mypy.stubtest \
	    norvik_auth norvik_binding norvik_auth_extras
	@if command -v node >/dev/null; then \
	    $(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/python -m pip install --quiet "$(PYRIGHT_REQUIREMENT)" && \
	    $(PORTABILITY_ENV) $(TYPECHECK_VENV)/bin/pyright --pythonpath $(TYPECHECK_VENV)/bin/python python; \
	else echo "pyright: no node on PATH, skipped"; fi

BUILD_VENV := $(PORTABILITY_DIR)/venv-build
DIST_DIR := $(PORTABILITY_DIR)/dist
DIST_TEST_VENV := $(PORTABILITY_DIR)/venv-dist-test
# `python -m build` makes the sdist, then builds the wheel from that sdist, so both are exercised.
# The tests of pure-Python code are left out: the built module is what this run is for.
dist-test:
	@if [ -z "$(TYPECHECK_VERSION)" ]; then echo "no CPython 3.9-3.13 found"; exit 1; fi
	test -x $(BUILD_VENV)/bin/python || \
	    $(PORTABILITY_ENV) $(strip $(call portability_python,$(TYPECHECK_VERSION))) -m venv $(BUILD_VENV)
	$(PORTABILITY_ENV) $(BUILD_VENV)/bin/python -m pip install --quiet "$(BUILD_REQUIREMENT)"
	rm -rf $(DIST_DIR)
	$(PORTABILITY_ENV) $(BUILD_VENV)/bin/python -m build --outdir $(DIST_DIR) .
	@echo "checking that the sdist holds every tracked source, build and licence file"
	@tar -tzf $(DIST_DIR)/*.tar.gz | sed 's|^[^/]*/||' > $(DIST_DIR)/sdist-files.txt
	@files=$$(git ls-files src stubs/norvik_auth-stubs python CMakeLists.txt pyproject.toml README.md LICENSE); \
	[ -n "$$files" ] || { echo "git ls-files listed nothing to compare the sdist with"; exit 1; }; \
	for f in $$files; do grep -qxF "$$f" $(DIST_DIR)/sdist-files.txt || { echo "sdist lacks $$f"; exit 1; }; done
	@if grep -E '^(tests|bench|fuzz|build)/' $(DIST_DIR)/sdist-files.txt; then echo "sdist holds development files"; exit 1; fi
	@echo "checking that the wheel holds the extension, the stub package, the companion packages and the licence"
	@$(BUILD_VENV)/bin/python -m zipfile -l $(DIST_DIR)/*.whl | awk '{print $$1}' > $(DIST_DIR)/wheel-files.txt
	@for pattern in '^norvik_auth\.cpython-.*\.so$$' '^norvik_auth-stubs/__init__\.pyi$$' '\.dist-info/licenses/LICENSE$$'; do \
	    grep -qE "$$pattern" $(DIST_DIR)/wheel-files.txt || { echo "wheel lacks $$pattern"; exit 1; }; done
	@for f in $$(git ls-files python | sed 's|^python/||'); do \
	    grep -qxF "$$f" $(DIST_DIR)/wheel-files.txt || { echo "wheel lacks $$f"; exit 1; }; done
	rm -rf $(DIST_TEST_VENV)
	$(PORTABILITY_ENV) $(strip $(call portability_python,$(TYPECHECK_VERSION))) -m venv $(DIST_TEST_VENV)
	$(PORTABILITY_ENV) $(DIST_TEST_VENV)/bin/python -m pip install --quiet "$$(ls $(DIST_DIR)/*.whl)[test]"
	$(call portability_check_installed,$(DIST_TEST_VENV))
	$(call portability_run_suite,$(DIST_TEST_VENV)) -m 'not python_only'

# The sdist built and installed where OpenSSL's headers cannot be seen (root only): in a mount
# namespace of its own with an empty tmpfs over each openssl include directory, pip builds it
# into a fresh venv with build isolation; then the module from there derives a key and validates
# data signed by hmac. Building needs a C++20 compiler, CMake and Python's headers, nothing more.
SDIST_BARE_DIR := $(PORTABILITY_DIR)/sdist-bare
OPENSSL_INCLUDE_DIRS = /usr/include/openssl /usr/include/$(shell gcc -dumpmachine 2>/dev/null)/openssl
define sdist_bare_check
'import hashlib, hmac, norvik_auth, sys, sysconfig; \
assert norvik_auth.__file__.startswith(sysconfig.get_paths()["platlib"]), norvik_auth.__file__; \
key = norvik_auth.get_secret_key("1:t"); assert bytes(key) == hmac.digest(b"SignedView", b"1:t", "sha256"); \
q = "a=1&hash=" + hmac.new(bytes(key), b"a=1", hashlib.sha256).hexdigest(); \
assert norvik_auth.validate_webapp_data(norvik_auth.parse_webapp_data(q), key) is True; \
print("built from the sdist without OpenSSL headers: key and signature as hmac computes them")'
endef

sdist-bare:
	@if [ -z "$(TYPECHECK_VERSION)" ]; then echo "no CPython 3.9-3.13 found"; exit 1; fi
	test -x $(BUILD_VENV)/bin/python || \
	    $(PORTABILITY_ENV) $(strip $(call portability_python,$(TYPECHECK_VERSION))) -m venv $(BUILD_VENV)
	$(PORTABILITY_ENV) $(BUILD_VENV)/bin/python -m pip install --quiet "$(BUILD_REQUIREMENT)"
	rm -rf $(SDIST_BARE_DIR)
	$(PORTABILITY_ENV) $(BUILD_VENV)/bin/python -m build --sdist --outdir $(SDIST_BARE_DIR) .
	$(PORTABILITY_ENV) $(strip $(call portability_python,$(TYPECHECK_VERSION))) -m venv $(SDIST_BARE_DIR)/venv
	unshare -m sh -ec 'for d in $(OPENSSL_INCLUDE_DIRS); do [ ! -d $$d ] || mount -t tmpfs none $$d; done; \
	    if echo "#include <openssl/evp.h>" | g++ -E -x c++ - >/dev/null 2>&1; then \
	        echo "OpenSSL headers still visible"; exit 1; fi; \
	    echo "OpenSSL headers hidden: #include <openssl/evp.h> fails"; \
	    $(PORTABILITY_ENV) $(SDIST_BARE_DIR)/venv/bin/python -m pip install --quiet --no-cache-dir \
	        $(SDIST_BARE_DIR)/norvik_auth-*.tar.gz'
	cd $(SDIST_BARE_DIR) && $(PORTABILITY_ENV) venv/bin/python -c $(sdist_bare_check)

# test-all-pythons stays out: building every interpreter's module from the checkout and running
# the suite on it is what wheel-test does with the wheels users install.
ci-portability:
	@start=$$(date +%s); $(MAKE) --no-print-directory typecheck; s1=$$?; \
	t1=$$(date +%s); $(MAKE) --no-print-directory dist-test; s2=$$?; t2=$$(date +%s); \
	$(MAKE) --no-print-directory sdist-bare; s3=$$?; t3=$$(date +%s); \
	echo "typecheck: exit $$s1, $$((t1 - start)) s"; echo "dist-test: exit $$s2, $$((t2 - t1)) s"; \
	echo "sdist-bare: exit $$s3, $$((t3 - t2)) s"; [ $$s1 = 0 ] && [ $$s2 = 0 ] && [ $$s3 = 0 ]
