# Hardening: fuzzing of the core and of the module, the test suite under sanitizers and valgrind.
#   make fuzz-core FUZZ_SECONDS=1800    libFuzzer over the C++ core (clang, ASan + UBSan)
#   make fuzz-python FUZZ_SECONDS=1800  coverage-guided fuzzing of the module from Python
#   make sanitize-test                  the pytest suite against an ASan + UBSan build
#   make valgrind-test                  the pytest suite under valgrind's leak check
#   make ci-hardening                   all of the above in their short forms, tools included
FUZZ_SECONDS ?= 60
HARDENING := build/hardening
HARDENING_VENV := $(HARDENING)/venv
HARDENING_PYTHON := $(HARDENING_VENV)/bin/python
CLANGXX ?= clang++-14
CLANG_RT = $(shell $(CLANGXX) -print-resource-dir 2>/dev/null)/lib/linux
CORE_SOURCES := $(wildcard src/util/*.cpp src/webapp_data/*.cpp src/lib/*.cpp)
ALL_SOURCES := $(wildcard src/*/*.cpp src/*/*.hpp) CMakeLists.txt
CORE_FUZZER := $(HARDENING)/core_fuzzer
FUZZ_FLAGS := -std=c++20 -g -O1 -Wall -Wextra -Wpedantic -fno-omit-frame-pointer
SAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

.PHONY: hardening-tools hardening-packages fuzz-core fuzz-python sanitize-test valgrind-test ci-hardening

# Installs what the targets below need on a fresh machine (run as root); quick when present.
hardening-tools: hardening-packages $(HARDENING)/venv.stamp

hardening-packages:
	@missing=""; \
	for tool in $(CLANGXX) g++ cmake ninja valgrind; do command -v $$tool >/dev/null || missing=1; done; \
	test -e "$(CLANG_RT)/libclang_rt.fuzzer_no_main-x86_64.a" || missing=1; \
	if [ -n "$$missing" ]; then \
		echo "installing clang-14, its runtimes, valgrind and the build tools"; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
			clang-14 libclang-rt-14-dev g++ cmake ninja-build valgrind >/dev/null; \
	fi

$(HARDENING)/venv.stamp: | hardening-packages
	mkdir -p $(HARDENING)
	$(PYTHON) -m venv $(HARDENING_VENV)
	$(HARDENING_PYTHON) -m pip install --quiet atheris pytest hypothesis
	touch $@

$(CORE_FUZZER): fuzz/core_fuzzer.cpp $(ALL_SOURCES) | hardening-tools
	$(CLANGXX) $(FUZZ_FLAGS) -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
		-Isrc fuzz/core_fuzzer.cpp $(CORE_SOURCES) -o $@

# New inputs go to a working corpus outside the tree; fuzz/corpus only seeds it.
fuzz-core: $(CORE_FUZZER)
	mkdir -p $(HARDENING)/corpus-core $(HARDENING)/findings $(HARDENING)/logs
	$(CORE_FUZZER) -dict=fuzz/init_data.dict -max_len=8192 -timeout=10 -print_final_stats=1 \
		-max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(HARDENING)/findings/core- \
		$(HARDENING)/corpus-core fuzz/corpus > $(HARDENING)/logs/fuzz-core.log 2>&1; \
		status=$$?; grep -E '^(Done|stat::|SUMMARY)|ERROR|invariant' $(HARDENING)/logs/fuzz-core.log; exit $$status

# The module built by clang with coverage counters for the fuzzer and ASan + UBSan checks.
FUZZ_MODULE := $(HARDENING)/fuzz-module
FUZZER_RUNTIME := $(HARDENING)/libfuzzer_no_main.so

$(FUZZ_MODULE)/built.stamp: $(ALL_SOURCES) | hardening-tools
	cmake -S . -B $(FUZZ_MODULE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=$(CLANGXX) -DPython_EXECUTABLE=$(abspath $(HARDENING_PYTHON)) \
		"-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link $(SAN_FLAGS)" >/dev/null
	ninja -j1 -C $(FUZZ_MODULE) >/dev/null
	touch $@

# libFuzzer as a shared library, so that the instrumented module and atheris share one engine.
$(FUZZER_RUNTIME): | hardening-tools
	$(CLANGXX) -shared -fPIC -o $@ -Wl,--whole-archive $(CLANG_RT)/libclang_rt.fuzzer_no_main-x86_64.a \
		-Wl,--no-whole-archive -lstdc++ -lpthread

# The fuzzer library goes first so that its coverage hooks, not the ASan runtime's empty ones,
# receive the module's counters; hence the relaxed link-order check.
fuzz-python: $(FUZZ_MODULE)/built.stamp $(FUZZER_RUNTIME)
	mkdir -p $(HARDENING)/corpus-python $(HARDENING)/findings $(HARDENING)/logs
	LD_PRELOAD="$(abspath $(FUZZER_RUNTIME)):$(CLANG_RT)/libclang_rt.asan-x86_64.so" \
	ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 PYTHONPATH=$(FUZZ_MODULE) \
		$(HARDENING_PYTHON) fuzz/python_fuzzer.py -dict=fuzz/init_data.dict -max_len=8192 \
		-timeout=10 -print_final_stats=1 -max_total_time=$(FUZZ_SECONDS) \
		-artifact_prefix=$(HARDENING)/findings/python- $(HARDENING)/corpus-python fuzz/corpus \
		> $(HARDENING)/logs/fuzz-python.log 2>&1; \
		status=$$?; grep -E '^(Done|stat::|SUMMARY)|ERROR|Uncaught|Error' $(HARDENING)/logs/fuzz-python.log; exit $$status

# The module built by g++ with ASan + UBSan; any UB aborts the run. CPython itself is not
# instrumented, so the ASan runtime is preloaded (libstdc++ with it, for its throw interceptor)
# and leak reports are off: the interpreter keeps memory until exit by design.
ASAN_MODULE := $(HARDENING)/asan
SANITIZER_PRELOAD = $(shell g++ -print-file-name=libasan.so):$(shell g++ -print-file-name=libstdc++.so)
SANITIZED_PYTEST = LD_PRELOAD="$(SANITIZER_PRELOAD)" UBSAN_OPTIONS=print_stacktrace=1 HYPOTHESIS_PROFILE=slow-runtime \
	PYTHONPATH=$(ASAN_MODULE):$(CURDIR)/python $(HARDENING_PYTHON) -m pytest -q -p no:cacheprovider --capture=sys

$(ASAN_MODULE)/built.stamp: $(ALL_SOURCES) | hardening-tools
	cmake -S . -B $(ASAN_MODULE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
		-DPython_EXECUTABLE=$(abspath $(HARDENING_PYTHON)) "-DCMAKE_CXX_FLAGS=$(SAN_FLAGS)" >/dev/null
	ninja -j1 -C $(ASAN_MODULE) >/dev/null
	touch $@

# The leak tests measure resident memory, which ASan's quarantine of freed blocks would swamp:
# they run in a second pass with the quarantine off, its per-thread part too (that part alone
# grows resident memory by megabytes over the first hundred thousand calls that free a few
# blocks each); everything else keeps it.
sanitize-test: $(ASAN_MODULE)/built.stamp
	ASAN_OPTIONS=detect_leaks=0 $(SANITIZED_PYTEST) -m 'not python_only' --deselect tests/test_leaks.py tests
	ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0 \
		$(SANITIZED_PYTEST) tests/test_leaks.py

# The suite under memcheck against a plain build. The interpreter allocates through malloc so
# that every block is seen; fuzz/valgrind_report.py fails the run on any leak or memory error
# with a frame in the module, and only counts the interpreter's own. The leak tests run with
# few calls here: one leaking call is enough for memcheck.
PLAIN_MODULE := $(HARDENING)/plain
VALGRIND_TESTS ?= tests

$(PLAIN_MODULE)/built.stamp: $(ALL_SOURCES) | hardening-tools
	cmake -S . -B $(PLAIN_MODULE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
		-DPython_EXECUTABLE=$(abspath $(HARDENING_PYTHON)) >/dev/null
	ninja -j1 -C $(PLAIN_MODULE) >/dev/null
	touch $@

# Tests of pure-Python code stay out (the process-pool test among them: a forked worker would
# write a second report into the same XML), and so does the check of the escape table against
# every code point: a quarter of the run under memcheck for the table's contents, which the
# native runs check, while the other text-form tests take the same code paths.
valgrind-test: $(PLAIN_MODULE)/built.stamp
	mkdir -p $(HARDENING)/logs
	PYTHONMALLOC=malloc LEAK_CHECK_CALLS=50 HYPOTHESIS_PROFILE=slow-runtime PYTHONPATH=$(PLAIN_MODULE):$(CURDIR)/python \
		valgrind --track-origins=yes --leak-check=full --show-leak-kinds=definite,indirect \
		--errors-for-leak-kinds=definite,indirect --num-callers=40 \
		--xml=yes --xml-file=$(HARDENING)/logs/valgrind.xml \
		$(HARDENING_PYTHON) -m pytest -q -p no:cacheprovider -m 'not python_only' $(VALGRIND_TESTS) \
		--deselect tests/test_text_form.py::TestUnicodeTable::test_every_code_point_follows_the_ucd
	$(HARDENING_PYTHON) fuzz/valgrind_report.py $(HARDENING)/logs/valgrind.xml

# The short forms for CI: each fuzzer for a minute, then both test runs; prints each step's time.
CI_FUZZ_SECONDS ?= 60

ci-hardening: hardening-tools
	@for step in fuzz-core fuzz-python sanitize-test valgrind-test; do \
		start=$$(date +%s); \
		$(MAKE) --no-print-directory $$step FUZZ_SECONDS=$(CI_FUZZ_SECONDS) || exit 1; \
		echo "ci-hardening: $$step passed in $$(( $$(date +%s) - start )) s"; \
	done
