# The kernels under other processors, run with qemu-user (called by name: binfmt_misc may be off).
#
#   make emulated-qemu64    built here, run on an x86-64 with SSE2 only: the kernels and dispatch
#                           paths for processors without SSSE3
#   make emulated-aarch64   cross-built for aarch64 against a Debian arm64 root, run with that
#                           root's Python: the portable kernels, on a processor without x86 paths
#   make emulated-s390x     the same for s390x, big-endian
#   make ci-emulation       all three side by side, then one line for each
#
# Each run: the kernel matrix (every kernel it ran, and those it skipped for want of a feature),
# then the tests that reach the kernels through the module. Tests that start subprocesses or
# servers stay out, as a subprocess would run on this processor, not the emulated one.
# Everything lands in build/emulation/; the tools come from apt (root) and the package index.

EMULATION := build/emulation
EMULATION_VENV := $(EMULATION)/venv
EMULATION_PYTHON := $(EMULATION_VENV)/bin/python
# CMake 4.1 or later, so that a cross build shows FindPython choosing the target's interpreter.
EMULATION_CMAKE := $(EMULATION_VENV)/bin/cmake
EMULATION_JOBS ?= $(shell nproc 2>/dev/null || echo 2)
EMULATION_TESTS := tests/test_parse_init_data.py tests/test_properties.py tests/test_signature.py \
    tests/test_json_records.py tests/test_text_form.py tests/test_arguments.py

# Only the module of the emulated build may be imported, and the bytecode of the tests is left to
# the native runs.
EMULATION_ENV = env -u PYTHONHOME PYTHONDONTWRITEBYTECODE=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
    PIP_NO_INPUT=1

.PHONY: emulation-packages emulated-qemu64 ci-emulation

emulation-packages:
	@missing=""; \
	for tool in qemu-x86_64 qemu-aarch64 qemu-s390x aarch64-linux-gnu-g++ s390x-linux-gnu-g++ debootstrap \
	    dpkg-deb g++ make; do \
	    command -v $$tool >/dev/null || missing=1; done; \
	if [ -n "$$missing" ]; then \
	    echo "installing qemu-user, the aarch64 and s390x cross compilers, debootstrap and the build tools"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
	        qemu-user g++-aarch64-linux-gnu g++-s390x-linux-gnu debootstrap g++ make >/dev/null; \
	fi

$(EMULATION)/venv.stamp: | emulation-packages
	mkdir -p $(EMULATION)
	test -x $(EMULATION_PYTHON) || $(PYTHON) -m venv $(EMULATION_VENV)
	$(EMULATION_ENV) $(EMULATION_PYTHON) -m pip install --quiet "cmake>=4.1" "pytest>=7" "hypothesis>=6.70"
	touch $@

# $(1): build directory, $(2): extra CMake settings. Configured once; later builds are incremental.
define emulation_build
test -f $(1)/CMakeCache.txt || $(EMULATION_ENV) $(EMULATION_CMAKE) -S . -B $(1) \
    -DCMAKE_BUILD_TYPE=Release -DNORVIK_KERNEL_MATRIX=ON $(2) > $(1).configure.log 2>&1 \
    || { cat $(1).configure.log; rm -f $(1)/CMakeCache.txt; exit 1; }
$(EMULATION_ENV) $(EMULATION_CMAKE) --build $(1) --parallel $(EMULATION_JOBS) > $(1).build.log 2>&1 \
    || { cat $(1).build.log; exit 1; }
endef

# Lines each model's kernel matrix must print, so that a kernel the model should run (or skip)
# cannot drop out of a build unnoticed. qemu's aarch64 models all have the SHA2 instructions, so
# the portable SHA-256 is run beside the ARMv8 one there but never chosen by the module.
EMULATION_MATRIX_EXPECT_qemu64 := "SKIP sha256/sha-ni: this processor lacks sha+sse4.1" \
    "PASS sha256/portable"
EMULATION_MATRIX_EXPECT_aarch64 := "PASS sha256/armv8-sha2" "PASS sha256/portable"
EMULATION_MATRIX_EXPECT_s390x := "PASS sha256/portable"

# $(1): the emulator's command line, $(2): the build directory, $(3): the interpreter, $(4): its
# extra import path, $(5): a name for the logs (and the model). The matrix first, with the lines
# it must print, then a check that the module comes from the emulated build on the emulated
# machine, then the tests; pytest's summary lines.
define emulation_run
rm -f $(EMULATION)/$(5).pytest.log
@status=0; $(1) $(2)/kernel_matrix > $(EMULATION)/$(5).matrix.log || status=$$?; \
cat $(EMULATION)/$(5).matrix.log; [ $$status = 0 ] || exit $$status; \
for line in $(EMULATION_MATRIX_EXPECT_$(5)); do \
    grep -qxF "$$line" $(EMULATION)/$(5).matrix.log || { echo "kernel matrix lacks: $$line"; exit 1; }; done
$(EMULATION_ENV) PYTHONPATH=$(abspath $(2))$(4) $(1) $(3) -c 'import norvik_auth, platform, sys; \
p = norvik_auth.__file__; assert p.startswith("$(abspath $(2))/"), p; \
print("norvik_auth from", p, "on", platform.machine(), "Python", sys.version.split()[0])'
@status=0; $(EMULATION_ENV) PYTHONPATH=$(abspath $(2))$(4) $(1) $(3) -m pytest -p no:cacheprovider -q \
    $(EMULATION_TESTS) > $(EMULATION)/$(5).pytest.log 2>&1 || status=$$?; \
if [ $$status != 0 ]; then tail -n 80 $(EMULATION)/$(5).pytest.log; \
elif grep -q 'short test summary info' $(EMULATION)/$(5).pytest.log; then \
    sed -n '/short test summary info/,$$p' $(EMULATION)/$(5).pytest.log; \
else tail -n 1 $(EMULATION)/$(5).pytest.log; fi; exit $$status
endef

# $(1): a label, $(2): a command; prints how the command ended and its time, and ends as it did.
emulation_timed = start=$$(date +%s); status=0; $(2) || status=$$?; \
    echo "$(1): $$([ $$status = 0 ] && echo passed || echo FAILED) in $$(( $$(date +%s) - start )) s"; \
    exit $$status

.PHONY: emulation-build-qemu64 emulation-run-qemu64 \
    $(foreach m,aarch64 s390x,emulated-$(m) emulation-build-$(m) emulation-run-$(m))

# x86-64 with SSE2 only, as in the first 64-bit processors: the build is the ordinary one (its
# baseline is SSE2), and the module asks the emulated processor, which offers no SSSE3.
QEMU64_BUILD := $(EMULATION)/qemu64
emulated-qemu64: $(EMULATION)/venv.stamp
	@$(call emulation_timed,emulated-qemu64 build,$(MAKE) --no-print-directory emulation-build-qemu64)
	@$(call emulation_timed,emulated-qemu64 run,$(MAKE) --no-print-directory emulation-run-qemu64)

emulation-build-qemu64:
	$(call emulation_build,$(QEMU64_BUILD),-DPython_EXECUTABLE=$(abspath $(EMULATION_PYTHON)))

emulation-run-qemu64:
	$(call emulation_run,qemu-x86_64 -cpu qemu64,$(QEMU64_BUILD),$(abspath $(EMULATION_PYTHON)),,qemu64)

# Another Debian architecture. $(1): the model (the processor's name, as qemu and GNU call it),
# $(2): Debian's name of the architecture. The root holds Debian's Python for it and the headers
# and libraries to build against (a minute or two, once); pytest and hypothesis are pure Python,
# so the package index gives them for any processor.
define foreign_model_rules
$(1)_ROOT := $(EMULATION)/$(2)-root
$(1)_SITE := $(EMULATION)/$(1)-site
$(1)_PYTHON := $(abspath $(EMULATION)/$(2)-root)/usr/bin/python3
$(1)_QEMU := qemu-$(1) -L $(abspath $(EMULATION)/$(2)-root)
$(1)_PATH := $(abspath $(EMULATION)/$(1)-site)

$$($(1)_ROOT)/.ready: | emulation-packages
	tools/foreign_sysroot.sh create $(2) $$($(1)_ROOT)

$$($(1)_SITE)/.stamp: $(EMULATION)/venv.stamp $$($(1)_ROOT)/.ready
	rm -rf $$($(1)_SITE)
	$(EMULATION_ENV) $(EMULATION_PYTHON) -m pip install --quiet --target $$($(1)_SITE) \
	    --only-binary=:all: --platform manylinux2014_$(1) --implementation cp \
	    --python-version $$$$(readlink $$($(1)_ROOT)/usr/bin/python3 | sed 's/^python//') \
	    "pytest>=7" "hypothesis>=6.70"
	touch $$@

emulated-$(1): $(EMULATION)/venv.stamp $$($(1)_ROOT)/.ready $$($(1)_SITE)/.stamp
	@$$(call emulation_timed,emulated-$(1) build,$$(MAKE) --no-print-directory emulation-build-$(1))
	@$$(call emulation_timed,emulated-$(1) run,$$(MAKE) --no-print-directory emulation-run-$(1))

emulation-build-$(1):
	$$(call emulation_build,$(EMULATION)/$(1),-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/tools/cross-toolchain.cmake \
	    -DNORVIK_CROSS_TRIPLE=$(1)-linux-gnu -DNORVIK_SYSROOT=$(abspath $$($(1)_ROOT)) \
	    -DPython_EXECUTABLE=$$($(1)_PYTHON))

emulation-run-$(1):
	$$(call emulation_run,$$($(1)_QEMU),$(EMULATION)/$(1),$$($(1)_PYTHON),:$$($(1)_PATH),$(1))
endef
$(eval $(call foreign_model_rules,aarch64,arm64))
$(eval $(call foreign_model_rules,s390x,s390x))

# All models at once: qemu-user emulates on one thread, so the runs share the cores instead of
# taking turns. Each writes its own log, printed whole when all have ended; then one line for
# each. The shared tools come first, so that no two runs install them together.
EMULATION_MODELS ?= qemu64 aarch64 s390x
ci-emulation: $(EMULATION)/venv.stamp
	@rm -f $(EMULATION)/ci-*.result; pids=""; trap 'kill $$pids 2>/dev/null' INT TERM HUP; \
	for model in $(EMULATION_MODELS); do \
	    ( start=$$(date +%s); \
	      if $(MAKE) --no-print-directory emulated-$$model > $(EMULATION)/ci-$$model.log 2>&1; \
	      then result=passed; else result=FAILED; fi; \
	      echo "$$result in $$(( $$(date +%s) - start )) s" > $(EMULATION)/ci-$$model.result ) & \
	    pids="$$pids $$!"; \
	done; wait; status=0; \
	for model in $(EMULATION_MODELS); do echo "--- $$model"; cat $(EMULATION)/ci-$$model.log; done; \
	for model in $(EMULATION_MODELS); do \
	    result=$$(cat $(EMULATION)/ci-$$model.result 2>/dev/null || echo "FAILED: no result"); \
	    case $$result in passed*) ;; *) status=1 ;; esac; \
	    tally=$$(tail -n 1 $(EMULATION)/$$model.pytest.log 2>/dev/null | tr -d '='); \
	    echo "$$model: $$result ($$(echo $$tally))"; \
	done; exit $$status
