# Front door: `make` builds, `make test` runs every test (the replay of the
# fuzz corpora included), `make demo` runs the demonstration, `make fuzz
# T=seconds` fuzzes every parser of outside bytes for T seconds each with
# clang's libFuzzer (build-fuzz; new inputs go to a scratch copy of each
# corpus, crash inputs to build-fuzz/artifacts/), `make cluster-demo` runs
# two web servers on one spool on a replicated GlusterFS volume and prints
# its figures.  Each target first installs what is missing.  `make bench`
# installs nothing (it needs what `make build` needs): it builds the
# benchmark programs (and the PHP extension, when PHP 8.2 is there) and runs
# bench/run.sh, a few minutes of measurements that bench/README.md explains.
JOBS ?= 2
T ?= 30

.PHONY: all build asan test demo cluster-demo fuzz bootstrap clean bench

all: build

bootstrap:
	@bash scripts/bootstrap.sh

build: bootstrap
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j$(JOBS) -- --no-print-directory

asan: bootstrap
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIX_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j$(JOBS) -- --no-print-directory

test: build asan
	@bash scripts/run-tests.sh

demo: build
	@bash scripts/demo.sh

cluster-demo: build
	@bash scripts/cluster.sh

# The PHP extension for a merchant's machine, and the example shop.
PREFIX ?= /usr/local
.PHONY: install deb demo-web
install: build
	@DESTDIR="$(DESTDIR)" PREFIX="$(PREFIX)" bash scripts/install.sh
deb: build
	@bash scripts/make-deb.sh
demo-web: build
	@bash scripts/demo-web.sh

BENCH_TARGETS = bench-sale bench-floor bench-queues $(if $(shell command -v php-config8.2),brix_php)
bench:
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j$(JOBS) --target $(BENCH_TARGETS) -- --no-print-directory
	@bash bench/run.sh build

fuzz:
	@bash scripts/bootstrap.sh fuzz
	@JOBS=$(JOBS) bash scripts/fuzz.sh $(T)

clean:
	rm -rf build build-asan build-fuzz demo-run
