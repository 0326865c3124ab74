# make demo   parse and render the sample dialogue
# make test   the whole suite: C++ unit tests, then the Python tests on every interpreter
SHELL := /bin/bash
.DEFAULT_GOAL := demo

PYTHONS ?= 3.14 3.11
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: demo test test-cpp test-python system-deps clean

system-deps:
	scripts/install-system-deps.sh

demo: system-deps
	@venv=$$(scripts/bootstrap.sh 3.14) && \
	  $$venv/bin/python -m pip install -q --no-build-isolation . && \
	  $$venv/bin/python examples/demo.py

test: test-cpp test-python

# The parser's unit tests run under AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer.
test-cpp: system-deps
	cmake -S . -B build/cpp-tests -DCMAKE_BUILD_TYPE=Debug -DMARQUILL_BUILD_MODULE=OFF \
	  -DBUILD_TESTING=ON -DMARQUILL_WERROR=ON -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" >/dev/null
	cmake --build build/cpp-tests -j2
	ctest --test-dir build/cpp-tests --output-on-failure -j2

test-python: system-deps
	@for py in $(PYTHONS); do scripts/test-python.sh $$py || exit 1; done

clean:
	rm -rf build _skbuild dist
