# Entry points: `make` builds everything into dist/, `make demo` packages the example
# application, `make test` runs every test layer. Each first installs what is missing.
SHELL := /bin/bash
PYTHON := /usr/bin/python3
FUZZ_SECONDS ?= 10
FUZZ_LONG_SECONDS ?= 600
FUZZ_TARGETS := fuzz_pe_image fuzz_settings fuzz_split_arguments fuzz_archive fuzz_percent

.PHONY: all setup build host win64 win32 dist demo test test-native test-fuzz test-wine fuzz-long bench bench-archives clean

all: dist

setup:
	@./scripts/setup.sh

host win64 win32: setup
	@cmake --preset $@ > build-$@.log 2>&1 || { cat build-$@.log; exit 1; }
	@rm -f build-$@.log
	cmake --build --preset $@

build: host win64 win32

dist: build
	mkdir -p dist/templates
	cp build/host/pack/korvane-pack dist/korvane-pack
	cp build/win64/pack/korvane-pack.exe dist/korvane-pack.exe
	cp build/win64/launcher/korvane-launcher.exe dist/templates/launcher-x64.exe
	cp build/win32/launcher/korvane-launcher.exe dist/templates/launcher-x86.exe

build/examples/hello/hello.jar: $(shell find examples/hello/src -name '*.java') | setup
	rm -rf build/examples/hello && mkdir -p build/examples/hello/classes
	javac --release 8 -nowarn -d build/examples/hello/classes $^
	jar --create --file $@ -C build/examples/hello/classes .

demo: dist build/examples/hello/hello.jar
	dist/korvane-pack build examples/hello/hello.toml -o dist/hello.exe --arch x64
	dist/korvane-pack build examples/hello/hello.toml -o dist/hello-x86.exe --arch x86
	dist/korvane-pack inspect dist/hello.exe
	dist/korvane-pack inspect dist/hello-x86.exe

test: test-native test-fuzz test-wine

test-native: dist
	ctest --preset host

test-fuzz: dist
	@for t in $(FUZZ_TARGETS); do \
	  echo "fuzzing $$t for $(FUZZ_SECONDS) s"; \
	  mkdir -p build/fuzz-corpus/$$t; \
	  [ $$t != fuzz_pe_image ] || cp dist/templates/launcher-*.exe build/fuzz-corpus/$$t/; \
	  build/host/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 build/fuzz-corpus/$$t fuzz/seeds/$$t 2> build/fuzz-$$t.log \
	    || { tail -40 build/fuzz-$$t.log; exit 1; }; \
	done

fuzz-long: dist
	$(MAKE) test-fuzz FUZZ_SECONDS=$(FUZZ_LONG_SECONDS)

test-wine: dist
	$(PYTHON) -m pytest -c tests/e2e/pytest.ini tests/e2e

clean:
	rm -rf build dist

bench: dist
	$(PYTHON) bench/startup.py

bench-archives: dist
	$(PYTHON) bench/archives.py
