# Entry points for a fresh Debian machine. Each target installs what it needs.
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build build-asan build-tsan test test-default test-asan test-tsan test-windows fuzz fuzz-smoke demo proxy bench bench-proxy bench-proxy-compare soak-proxy coverage install clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

build: bootstrap
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

build-asan: bootstrap
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

build-tsan: bootstrap
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)

test-default: build
	ctest --preset default

test-asan: build-asan
	ctest --preset asan

test-tsan: build-tsan
	ctest --preset tsan

# The Windows build of the module, the tools and the test suites (MinGW-w64),
# run under wine; its scan of the bundled page is compared with this build's.
test-windows: build
	bash scripts/test_windows.sh build/default

fuzz: bootstrap
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# A short run of every fuzz target on its seed corpus: proves they build and
# do not fail at once. Long runs are done by hand (see README).
fuzz-smoke: fuzz
	bash scripts/fuzz_smoke.sh build/fuzz

test: test-default test-asan test-tsan fuzz-smoke test-windows
	@echo "all test suites passed"

demo: build
	bash scripts/demo.sh build/default

# dnt-proxy on the default bases, on 127.0.0.1:3128; more options in ARGS.
proxy: build
	build/default/tools/dnt_proxy/dnt-proxy $(ARGS)

bench: build
	bash scripts/bench.sh build/default

bench-proxy: build
	bash bench/proxy/run.sh build/default

# dnt-proxy against Privoxy on the same list, and its TLS handshake rate.
bench-proxy-compare: build
	bash bench/proxy/compare.sh build/default

# A million requests with a hundred bases swaps (minutes; not run by CI).
soak-proxy: build
	bash bench/proxy/soak.sh build/default

# Line and branch coverage of the product code by the whole test suite:
# build/coverage/html/index.html and a summary line.
coverage: bootstrap
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage
	bash scripts/coverage.sh build/coverage

install: build
	cmake --install build/default --prefix $(or $(PREFIX),out/install)

clean:
	rm -rf build out
