# Set-up and everyday commands. Each one installs missing Debian packages first.
BUILD ?= build
JOBS  ?= $(shell nproc)

PREFIX ?= /usr/local

.PHONY: deps configure build run test test-asan fuzz bench soak screenshots package install clean

deps:
	@bash scripts/install-deps.sh

# Configures only a new build folder: once it exists, the build itself runs CMake again when
# a CMake file changed, and an unneeded configure would regenerate and redo work. Ninja, since
# with Make every target's moc step runs on every build even when nothing changed.
GENERATOR ?= Ninja
configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/lumenkite

# Every test through CTest; the whole run sits under Xvfb because some tests open windows.
# -noreset: by default Xvfb resets whenever its last client leaves, and a test program that
# connects during that reset fails with "could not connect to display" (about 1 start in 300
# when tests start and end side by side).
test: build
	cd $(BUILD) && xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" ctest --output-on-failure -j $(JOBS)

# The whole suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer in
# its own folder; any report fails the test that made it. Then the program itself, driven
# through its players and sheets on a few real clips (scripts/asan-app.py). Tests get a
# longer timeout there: instrumented decoding and painting run several times slower.
# intercept_tls_get_addr=0: this compiler's leak checker guesses the bounds of a library's
# lazily made thread-local block from a header the C library no longer writes, and when
# such a block happens to start 16 bytes into a page it scans garbage bounds and dies
# ("Tracer caught signal 11"). Only those blocks go unscanned; static thread-locals, ours
# among them, still are.
ASAN_BUILD ?= build-asan
SANITIZE   := -fsanitize=address,undefined -fno-omit-frame-pointer
SAN_ENV    := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:intercept_tls_get_addr=0 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLK_TEST_TIMEOUT=1500 \
	  -DCMAKE_C_FLAGS="$(SANITIZE)" -DCMAKE_CXX_FLAGS="$(SANITIZE)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_MODULE_LINKER_FLAGS="$(SANITIZE)" >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SAN_ENV) xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" ctest --output-on-failure -j $(JOBS)
	$(SAN_ENV) xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/asan-app.py $(ASAN_BUILD)

# libFuzzer targets for the file and text readers, in a separate clang build (not part of
# `make test`); each runs FUZZ_SECONDS. Crash inputs worth keeping go to
# tests/fuzz/regressions/<target>/, which `make test` replays.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	@CC=clang CXX=clang++ cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@bash scripts/run-benchmarks.sh $(BUILD)

# Faults and load on the whole program (killed exports, a full disk, missing tools, odd names,
# a long scripted session); not part of `make test`. Prints one line per check and a table.
soak: build
	@cmake --build $(BUILD) --target soak_programs -j $(JOBS)
	@bash scripts/run-soak.sh $(BUILD)

screenshots: build
	@bash scripts/screenshots.sh $(BUILD)
	@bash scripts/picture-programs.sh $(BUILD) pane_pictures duplicates_pictures sheet_pictures edit_pictures

# The Debian package, $(BUILD)/lumenkite_<version>_<arch>.deb (`sudo apt install ./$(BUILD)/lumenkite_*.deb`).
package: build
	@cmake --build $(BUILD) --target package

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
