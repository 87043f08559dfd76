# Front door: `make` builds, `make test` runs every test, `make demo` runs
# the demonstration.  Each target first installs what is missing.
JOBS ?= 2

.PHONY: all build asan test demo bootstrap clean

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

# The PHP extension for a merchant's machine, and the example shop.
PREFIX ?= /usr/local
.PHONY: install deb demo-web
install: build
	@DESTDIR="$(DESTDIR)" PREFIX="$(PREFIX)" bash scripts/install.sh
deb: build
	@bash scripts/make-deb.sh
demo-web: build
	@bash scripts/demo-web.sh

clean:
	rm -rf build build-asan demo-run
