# The commands of the README: `make run`, `make test` and `make bench`.
# Each installs what is missing, configures, builds and runs.

RELEASE_DIR := build/release
DEMO_DIR    := build/demo/DADOS
TEST_DIR    := build/test
JOBS        ?= $(shell nproc)

.PHONY: run test bench deps build build-test format clean

deps:
	@sh scripts/install-deps

build: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELIVOR_TESTS=OFF
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

# Pelivor against cp and rsync on a generated tree; BENCH_ARGS="--files 100000" etc.
bench: build
	$(RELEASE_DIR)/bench/pelivor-bench $(BENCH_ARGS)

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELIVOR_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@# What was skipped, and why, so a run that passed says what it did not prove.
	@grep -h '^SKIP' $(TEST_DIR)/Testing/Temporary/LastTest.log || true

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
