# Entry points for a fresh Debian machine. Each target installs what it needs.
JOBS ?= $(shell nproc)

.PHONY: all bootstrap bootstrap-build build build-tools build-asan build-tsan test test-lane-gcc test-lane-clang test-default test-asan test-tsan test-windows fuzz fuzz-smoke demo proxy bench bench-proxy bench-proxy-compare soak-proxy browsing-day coverage install clean

all: build

# Everything the tests need (make test, the benchmarks, coverage).
bootstrap:
	@bash scripts/bootstrap.sh test

# Only what building the module and the tools needs (make demo, proxy, install).
bootstrap-build:
	@bash scripts/bootstrap.sh build

# The default build with the tests and benchmarks.
build: bootstrap
	bash scripts/configure.sh default -DDNT_BUILD_TESTS=ON -DDNT_BUILD_BENCH=ON
	bash scripts/timed.sh "default build" cmake --build --preset default -j $(JOBS)

# The module, the tools and the default bases, without what only tests need.
build-tools: bootstrap-build
	bash scripts/configure.sh default -DDNT_BUILD_TESTS=OFF -DDNT_BUILD_BENCH=OFF
	bash scripts/timed.sh "tools build" cmake --build --preset default -j $(JOBS)

build-asan: bootstrap
	bash scripts/configure.sh asan
	bash scripts/timed.sh "asan build" cmake --build --preset asan -j $(JOBS)

build-tsan: bootstrap
	bash scripts/configure.sh tsan
	bash scripts/timed.sh "tsan build" cmake --build --preset tsan -j $(JOBS)

test-default: build
	bash scripts/timed.sh "default tests" ctest --preset default

test-asan: build-asan
	bash scripts/timed.sh "asan tests" ctest --preset asan

test-tsan: build-tsan
	bash scripts/timed.sh "tsan tests" ctest --preset tsan

# The Windows build of the module, the tools and the test suites (MinGW-w64),
# run under wine; its scan of the bundled page is compared with this build's.
test-windows: build
	bash scripts/test_windows.sh build/default

fuzz: bootstrap
	bash scripts/configure.sh fuzz
	bash scripts/timed.sh "fuzz build" cmake --build --preset fuzz -j $(JOBS)

# A short run of every fuzz target on its seed corpus: proves they build and
# do not fail at once. Long runs are done by hand (see README).
fuzz-smoke: fuzz
	bash scripts/timed.sh "fuzz smoke" bash scripts/fuzz_smoke.sh build/fuzz

# The five parts run in two lanes side by side, each lane's parts one after
# another, so that every part's tests start as soon as its own build is
# done: the default build, then the Windows build (which uses the default
# build's tools); beside them the clang builds: the sanitizers' and the fuzz
# targets. Tests, which often wait on sockets, timers and wine, overlap the
# other lane's work; each lane's output is printed whole when it ends.
test: bootstrap
	bash scripts/timed.sh "make test" $(MAKE) --no-print-directory -j2 --output-sync=target test-lane-gcc test-lane-clang
	@echo "all test suites passed"

test-lane-gcc:
	$(MAKE) --no-print-directory -j1 test-default test-windows

test-lane-clang:
	$(MAKE) --no-print-directory -j1 test-asan test-tsan fuzz-smoke

demo: build-tools
	bash scripts/demo.sh build/default

# dnt-proxy on the default bases, on 127.0.0.1:3128; more options in ARGS.
proxy: build-tools
	build/default/tools/dnt_proxy/dnt-proxy $(ARGS)

bench: build
	bash scripts/bench.sh build/default

bench-proxy: build
	bash bench/proxy/run.sh build/default

# dnt-proxy against Privoxy on the same list, over HTTP and HTTPS, and the
# TLS handshake rates.
bench-proxy-compare: build
	bash bench/proxy/compare.sh build/default

# A million requests with a hundred bases swaps (minutes; not run by CI).
soak-proxy: build
	bash bench/proxy/soak.sh build/default

# A day of browsing, compressed: memory and sessions every minute (minutes;
# not run by CI).
browsing-day: build
	bash bench/proxy/browsing_day.sh build/default

# Line and branch coverage of the product code by the whole test suite:
# build/coverage/html/index.html and a summary line.
coverage: bootstrap
	bash scripts/configure.sh coverage
	cmake --build --preset coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage
	bash scripts/coverage.sh build/coverage

install: build-tools
	cmake --install build/default --prefix $(or $(PREFIX),out/install)

clean:
	rm -rf build out
