# The two commands: `make demo` (the main job) and `make test`.
BUILD ?= build
DIST ?= dist
JOBS ?= 2

.PHONY: all deps build test demo fuzz soak clean

all: build

deps:
	@sh tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

test: build
	sh cmake/run-tests.sh $(BUILD)

demo: build
	sh tools/demo.sh $(BUILD) $(DIST)

# The text routines under libFuzzer, natively: each target SECONDS seconds (60
# unless given) or RUNS executions per code page.
fuzz:
	$(MAKE) -C fuzz fuzz OUT=$(CURDIR)/build-fuzz $(if $(SECONDS),SECONDS=$(SECONDS)) $(if $(RUNS),RUNS=$(RUNS))

# The hang soak (tests/robust/hang_soak.sh): interactive installers again and
# again in several languages and densities, a watchdog on each run; SOAK_RUNS
# rounds. Long, and not part of test.
soak: build
	nice -n 10 sh tests/robust/hang_soak.sh $(BUILD) "$$(sed -n 's/^KIV_ISCC:FILEPATH=//p' $(BUILD)/CMakeCache.txt)"

clean:
	rm -rf $(BUILD) $(DIST) build-fuzz
