# The two commands of the README, and the longer runs beside them.
#   make run    installs what is missing, builds, starts the editor (under Wine on Linux)
#   make test   installs what is missing, builds every preset, runs every test
.PHONY: all deps build build-linux build-windows run test bench fuzz screenshot package test-package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: build-linux build-windows

build-linux: deps
	cmake --preset linux
	cmake --build --preset linux

build-windows: deps
	cmake --preset windows
	cmake --build --preset windows

run: build-windows
	bash scripts/run-editor.sh

test: deps
	bash scripts/run-tests.sh

# Pictures of the editor window with a little text in it, alone and with the
# Find dialog and the About box: build/screenshot.png, screenshot-find.png,
# screenshot-about.png.
screenshot: build-windows
	bash scripts/screenshot.sh

# Save and open throughput and key setup cost (Release build, Google Benchmark),
# then the editor's open of a large document under Wine.
bench: deps
	cmake --preset linux-bench
	cmake --build --preset linux-bench -j2
	./build/linux-bench/bench/tarnwick_save_bench
	./build/linux-bench/bench/tarnwick_pipeline_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	cmake --preset windows
	cmake --build --preset windows -j2 --target editor_open_bench
	bash scripts/wine-run.sh build/windows/tests/editor_open_bench.exe

# Runs each fuzz target for FUZZ_SECONDS (default 60); see scripts/fuzz.sh.
fuzz: deps
	FUZZ_SECONDS=$(or $(FUZZ_SECONDS),60) bash scripts/fuzz.sh

package: deps
	bash scripts/package.sh

test-package: deps
	bash tests/packaging/run.sh

clean:
	rm -rf build

# vtxt, its man page and its bash completion: make install [PREFIX=/usr/local] [DESTDIR=...]
# bash-completion finds the completion under every data folder of XDG_DATA_DIRS
# (/usr/local/share and /usr/share by default).
PREFIX ?= /usr/local
.PHONY: install
install: build-linux
	install -D -m 755 build/linux/src/cli/vtxt $(DESTDIR)$(PREFIX)/bin/vtxt
	install -D -m 644 docs/vtxt.1 $(DESTDIR)$(PREFIX)/share/man/man1/vtxt.1
	install -D -m 644 packaging/linux/vtxt-completion.bash $(DESTDIR)$(PREFIX)/share/bash-completion/completions/vtxt
