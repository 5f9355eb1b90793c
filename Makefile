# Set-up and everyday commands. Each one installs missing Debian packages first.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: deps configure build run test bench screenshots clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/lumenkite

# Every test through CTest; the whole run sits under Xvfb because some tests open windows.
test: build
	cd $(BUILD) && xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -j $(JOBS)

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@bash scripts/run-benchmarks.sh $(BUILD)

screenshots: build
	@bash scripts/screenshots.sh $(BUILD)
	@bash scripts/pane-screenshots.sh $(BUILD)
	@bash scripts/duplicates-screenshots.sh $(BUILD)
	@bash scripts/sheet-screenshots.sh $(BUILD)

clean:
	rm -rf $(BUILD)
