# make demo   parse and render the sample dialogue: needs a C++ compiler and
#             CMake; runs on CPython 3.14 or the newest 3.10+ with its headers
#             already there, and builds 3.14 only when there is none (see
#             CONTRIBUTING.md)
# make test   the whole suite: the formatters and linters, the C++ unit tests
#             (natively, on the portable kernel alone, on emulated x86
#             processors without AVX and without AVX-512, cross-built for
#             aarch64 Linux and Windows, on musl, and with LLVM's libc++;
#             every source compiled for macOS arm64 and x86-64), a
#             minute of fuzzing for each of the two fuzzers, the Python
#             tests on every interpreter and on aarch64 under qemu, Spark
#             and Ray Data on a local cluster, the
#             built wheel in a fresh environment, and the
#             Python tests under sanitizers; each stage under a banner that
#             says how long it took
# make format apply the formatters (make lint checks them)
SHELL := /bin/bash
.DEFAULT_GOAL := demo

PYTHONS ?= 3.14 3.11 3.14t

.PHONY: demo test lint format test-cpp test-python test-wheel sanitize fuzz clean

# deps-GROUP: the Debian packages of one group of scripts/install-system-deps.sh
deps-%:
	@scripts/install-system-deps.sh $*

# On CPython 3.14 if there is one, else the newest 3.10 or newer on PATH
# (scripts/bootstrap.sh demo); only without either is 3.14 built.
demo: deps-build
	@venv=$$(scripts/bootstrap.sh demo) && \
	  $$venv/bin/python -m pip install -q . && \
	  $$venv/bin/python examples/demo.py

# The stages of make test, in order, run by scripts/run-stages.sh, which
# names each and times it.
TEST_STAGES := lint test-cpp test-portable test-x86-cpus test-aarch64 test-windows test-musl test-macos test-libcxx \
               fuzz test-python test-engines test-python-aarch64 test-wheel sanitize
test:
	@MAKE="$(MAKE)" scripts/run-stages.sh $(TEST_STAGES)

# The formatters and linters (scripts/lint.sh): clang-format and ruff format
# must leave every file as it is; ruff check, mypy --strict and zizmor
# (over the workflows) must find nothing. First in `make test`: it takes
# seconds. `make format` applies both formatters and ruff's safe fixes.
lint: deps-python
	scripts/lint.sh

format:
	scripts/lint.sh --format

# The CMake builds are the presets of CMakePresets.json, each configure,
# build and test preset of one name (build/NAME holds it): the same an IDE
# or `cmake --preset NAME` uses. Configuring is quiet; its errors still show.
define preset-tests
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j2
	ctest --preset $(1)
endef

# The parser's unit tests run under AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer.
test-cpp: deps-cpp-tests
	$(call preset-tests,cpp-tests)

# The same tests on the portable kernel alone (MARQUILL_SIMD=OFF), the
# path of a target without vector instructions, under the same sanitizers;
# then cross-built for 64-bit Arm Linux (run under qemu), for 64-bit
# Windows (MinGW-w64, run under wine) and statically for musl (zig c++, run
# natively), see scripts/test-cross.sh and scripts/test-musl.sh.
.PHONY: test-portable test-aarch64 test-windows test-musl
test-portable: deps-cpp-tests
	$(call preset-tests,cpp-portable)

# The C++ tests built as the module is, on emulated x86-64 processors without
# AVX-512 and without AVX: each must choose the fastest kernel it runs and
# meet no instruction it lacks (scripts/test-x86-cpus.sh).
.PHONY: test-x86-cpus
test-x86-cpus: deps-x86-cpus
	scripts/test-x86-cpus.sh

test-aarch64: deps-aarch64
	scripts/test-cross.sh aarch64-linux-gnu

test-windows: deps-windows
	scripts/test-cross.sh x86_64-w64-mingw32

test-musl: deps-musl
	scripts/test-musl.sh

# Every source of src/ compiled, not linked, for macOS 11 on arm64 and 10.13
# on x86-64 with zig's clang and its SDK headers (scripts/test-macos.sh).
.PHONY: test-macos
test-macos: deps-build
	scripts/test-macos.sh

# The core, its tests and the module built with clang and LLVM's libc++ 14,
# the oldest C++ runtime the sources are written for; the Python suite runs
# against that module.
.PHONY: test-libcxx
test-libcxx: deps-libcxx deps-build
	scripts/test-libcxx.sh

# The Python suite on each of PYTHONS, a session of noxfile.py each
# (scripts/test-python.sh); the interpreters are built when missing
# (scripts/bootstrap.sh), after the Debian packages their build needs.
test-python: deps-build deps-python
	scripts/test-python.sh $(PYTHONS)

# Spark (local[2], on Java 17) and Ray Data (a local cluster of two CPUs) run
# docs/columns.md's recipes on each of PYTHONS: the sessions engines-VERSION
# of noxfile.py (scripts/test-engines.sh), apart from test-python since their
# clusters take seconds to start and their packages hundreds of MB to install.
.PHONY: test-engines
test-engines: deps-build deps-python deps-engines
	scripts/test-engines.sh $(PYTHONS)

# The module cross-built for aarch64 Linux, the Python suite run against it
# under qemu on Debian's arm64 CPython 3.11 (scripts/test-python-aarch64.sh).
.PHONY: test-python-aarch64
test-python-aarch64: deps-aarch64
	scripts/test-python-aarch64.sh

# The sdist and a manylinux wheel for CPython 3.14 in dist/ (see
# CONTRIBUTING.md on wheels); test-wheel installs that wheel into a fresh
# environment and runs the Python tests and the type checks against it.
.PHONY: wheel
wheel: deps-build
	scripts/build-wheel.sh

test-wheel: wheel
	scripts/test-wheel.sh

sanitize: deps-build
	scripts/test-sanitized.sh

# Coverage-guided fuzzing under ASan and UBSan, from the seeds in
# tests/fuzz/seeds: fuzz_parser on lines, then fuzz_column on columns of
# them (chunks of lines, some null, parsed whole and sliced), FUZZ_SECONDS
# each; the corpora they grow are kept in build/fuzz/corpus/. libFuzzer's
# progress, a line for every input that finds something new, goes to
# build/fuzz/fuzz_<target>.log; the log shows the start, the end and the
# final statistics, or its last 200 lines if the fuzzer fails.
FUZZ_SECONDS ?= 60
fuzz: deps-fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j2
	@for target in parser column; do \
	  mkdir -p build/fuzz/corpus/$$target; \
	  echo "== fuzz_$$target for $(FUZZ_SECONDS) s"; \
	  build/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=10 \
	    -dict=build/fuzz/markup.dict -print_final_stats=1 build/fuzz/corpus/$$target tests/fuzz/seeds \
	    >build/fuzz/fuzz_$$target.log 2>&1 || \
	    { tail -n 200 build/fuzz/fuzz_$$target.log; \
	      echo "fuzz: failed; the whole log is build/fuzz/fuzz_$$target.log" >&2; exit 1; }; \
	  grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE)|stat::|Done )' build/fuzz/fuzz_$$target.log; \
	done

clean:
	rm -rf build dist

# The benchmarks, on CPython 3.14 and 3.14t (bench/run.sh, bench/README.md):
# the stages of BENCH_STAGES, by default all of them (cpp python callgrind
# threads columns plot); prints the tables, the README's Speed table among them.
# Everything a run writes goes to bench/results/, which git ignores. Options
# through MARQUILL_BENCH_PYPERF_ARGS and MARQUILL_BENCH_GBENCH_ARGS.
BENCH_STAGES ?=
.PHONY: bench bench-clean
bench: deps-bench
	bench/run.sh $(BENCH_STAGES)

bench-clean:
	rm -rf bench/results build/bench
