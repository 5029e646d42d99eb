# The commands of the README: `make run`, `make test`, `make package` and
# `make bench`. Each installs what is missing for its purpose, configures (the
# presets of CMakePresets.json), builds and runs.

RELEASE_DIR := build/release
TEST_DIR    := build/test
BENCH_DIR   := build/bench
DEMO_DIR    := build/demo/DADOS
JOBS        ?= $(shell nproc)

.PHONY: run test package bench build build-release build-test format format-check clean

# The program and the placing command as the package ships them: no tests,
# no benchmark.
build:
	@sh scripts/install-deps run
	@$(MAKE) --no-print-directory build-release

build-release:
	cmake --preset release
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# The program in a demo application folder, started from there: the folder
# is the source of every copy, build/demo/BACKUP a destination to pick.
run: build
	@sh scripts/demo $(DEMO_DIR) $(RELEASE_DIR)/app/pelivor
	@if [ -z "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	    echo "No display: run 'make run' in a graphical session (or scripts/screenshot for a picture)."; \
	    exit 1; \
	fi
	cd $(DEMO_DIR) && ./pelivor

# pelivor_<version>_<arch>.deb in build/release.
package:
	@sh scripts/install-deps package
	cmake --preset release
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target package

# Pelivor against the floor, cp and rsync on generated trees, with every
# target: on a tmpfs, the disk, shares at 1 and 10 ms, and the peak memory.
# BENCH_ARGS runs one scenario instead: "--tmpfs", "--latency-ms 10",
# "--files 100000" (the disk) etc.
bench:
	@sh scripts/install-deps bench
	cmake --preset bench
	cmake --build $(BENCH_DIR) -j $(JOBS)
	$(BENCH_DIR)/bench/pelivor-bench $(or $(BENCH_ARGS),--suite)

build-test:
	@sh scripts/install-deps test
	cmake --preset test
	cmake --build $(TEST_DIR) -j $(JOBS)

# The release build comes first, so that the package test finds it built.
test: build-test build-release
	cd $(TEST_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@# What was skipped, and why, so a run that passed says what it did not prove.
	@grep -h '^SKIP' $(TEST_DIR)/Testing/Temporary/LastTest.log || true

format:
	@sh scripts/install-deps format
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# What CI checks before the tests: every tracked source as clang-format lays it out.
format-check:
	@sh scripts/install-deps format
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
