# Thin wrapper around CMake. `make run` and `make test` work on a fresh Debian 12 machine.
JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN      ?= build-asan
FUZZBUILD ?= build-fuzz
FUZZTIME  ?= 30
PREFIX    ?= /usr/local
export ASAN_OPTIONS  ?= detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS  ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

.PHONY: all deps build asan run test test-plain test-asan bench fuzz screenshots install uninstall deb clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN)/CMakeCache.txt:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DPURGEL_SANITIZE=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

asan: deps $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)

# Builds only what it runs (the window and the demo server), not the tests and benchmarks.
run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target purgel purgel-demo-server
	@scripts/run-purgel $(BUILD)

test-plain: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd $(ASAN) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test: test-plain test-asan

bench: build
	@scripts/run-benchmarks $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPURGEL_FUZZ=ON \
	      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZBUILD) -j $(JOBS)
	@scripts/run-fuzzers $(FUZZBUILD) $(FUZZTIME)

# Renders the windows to $(BUILD)/screenshots; the main window's and the sender panel's pictures go into docs/ for the README.
screenshots: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ./app/purgel-screenshots screenshots
	mkdir -p docs && cp $(BUILD)/screenshots/main.png docs/purgel-main.png
	cp $(BUILD)/screenshots/senders.png docs/purgel-senders.png

# Installs what a desktop needs under PREFIX (and DESTDIR, when set): the executables, the
# menu entry, the icon and the AppStream metadata. Builds only what it installs.
install: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target purgel-installables
	cmake --install $(BUILD) --prefix $(PREFIX)

uninstall: $(BUILD)/CMakeCache.txt
	cmake -DPREFIX=$(PREFIX) -DLIST=$(BUILD)/installed-files.txt -P desktop/Uninstall.cmake

# A Debian package of the same files under /usr: $(BUILD)/purgel_<version>_amd64.deb.
deb: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target purgel-installables
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZBUILD)
