# The project built warning-free, as errors, by each compiler CI has: the CMake project alone,
# Release (with link-time optimisation) like the wheels, in its own tree under build/warnings/.
#
#   make clang-build    clang++-14 (apt package clang-14), -Werror
#   make gcc-build      g++ of this machine, -Werror
#   make gcc16-build    g++ 16 of the Debian unstable chroot, -Werror (root only)
#   make warnings-build all three
WARNINGS_DIR := build/warnings
WERROR_FLAGS := -Werror

.PHONY: clang-build gcc-build gcc16-build warnings-build

# $(1): compiler, $(2): build tree.
define werror_build
cmake -S . -B $(2) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=$(1) \
    "-DCMAKE_CXX_FLAGS=$(WERROR_FLAGS)" -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
ninja -C $(2)
endef

clang-build:
	@command -v $(CLANGXX) >/dev/null || { apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 >/dev/null; }
	$(call werror_build,$(CLANGXX),$(WARNINGS_DIR)/clang)

gcc-build:
	$(call werror_build,g++,$(WARNINGS_DIR)/gcc)

gcc16-build: $(CHROOT)/.ready
	tools/unstable_chroot.sh copy-sources $(CHROOT) $(CHROOT_WORK)/src-warnings
	$(IN_CHROOT) cmake -S $(CHROOT_WORK)/src-warnings -B $(CHROOT_WORK)/warnings-gcc16 -G Ninja \
	    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ "-DCMAKE_CXX_FLAGS=$(WERROR_FLAGS)" \
	    -DPython_EXECUTABLE=/usr/bin/python3.14
	$(IN_CHROOT) ninja -C $(CHROOT_WORK)/warnings-gcc16

warnings-build: clang-build gcc-build gcc16-build
