# Tessaline: set-up, build, run and tests on Debian 12.
#
#   make run        build and start Keystead on the demonstration panel set,
#                   with the router simulator beside it (until Keystead closes)
#   make test       build and run the whole test suite
#   make test-asan  the whole test suite under AddressSanitizer + UBSan
#   make test-tsan  the tests that start firmware threads under ThreadSanitizer
#   make fuzz       each libFuzzer harness for FUZZ_SECONDS (default 60)
#   make deb        the Debian package $(BUILD)/tessaline_<version>_amd64.deb
#   make install    install into PREFIX (default /usr/local)
#   make fresh-check  `make test` and `make run` in a clone of HEAD on a Debian 12
#                   system made afresh with debootstrap (about 25 minutes)
#
# Every target first installs the Debian packages it needs (with sudo unless
# run as root).

BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TSAN ?= build-tsan
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)

# qt6-httpserver-dev and qt6-websockets-dev serve the remote API of Keystead and panelrun;
# chromium, chromium-driver and python3-selenium run the browser pages' test headless;
# curl, lftp and python3 are the FTP clients the tests upload with; qt6-multimedia-dev
# plays the panels' buzzer; xvfb and xdotool run the program's window tests on a
# virtual screen (and give devtools/kstshot a display for its screenshots); dpkg-dev
# and file let CPack work out the package's dependencies; systemd brings
# systemd-analyze, which `make deb-check` checks the service unit with, and
# man-db (with groff) renders the package's manual pages there.
PACKAGES      := cmake ninja-build g++ binutils qt6-base-dev qt6-multimedia-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev fonts-dejavu-core curl lftp python3 \
                 chromium chromium-driver python3-selenium \
                 xvfb xauth xdotool dpkg-dev file systemd man-db
SAN_PACKAGES  := clang-14 libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
SAN_DIR := $(CURDIR)/devtools/sanitizers

define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi
endef

.PHONY: all deps san-deps build run test test-asan test-tsan fuzz deb install demo-check deb-check fresh-check clean

all: build

deps:
	$(call install_missing,$(PACKAGES))

san-deps: deps
	$(call install_missing,$(SAN_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	KEYSTEAD=$(abspath $(BUILD))/keystead/keystead tools/demo/run-demo.sh $(BUILD)

# `make run`'s script under a virtual screen with a demonstration directory
# of its own: both demo panels must come online, and routersim must end
# with Keystead (the CTest keystead_demo, which `make test` runs too).
demo-check: build
	ctest --test-dir $(BUILD) -R '^keystead_demo$$' --output-on-failure

PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

deb: build
	cd $(BUILD) && cpack -G DEB

# The package installed with apt-get from a directory of its own, then
# `keystead --version` from it; removed again afterwards.
deb-check: deb
	devtools/deb/check-deb.sh $(BUILD)

# The README's `make test` and `make run` as a new user's clone of HEAD
# meets them: on a Debian 12 root file system made with debootstrap (kept
# in /var/cache/tessaline-fresh; TESS_FRESH_REFRESH=1 makes it anew), with
# nothing of this machine's packages or build. Root or sudo; CI runs it too.
fresh-check:
	devtools/fresh/fresh-check.sh

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE bench

test-asan: san-deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(BUILD_ASAN) -G Ninja -DTESS_SANITIZE=address
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(SAN_DIR)/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS) -LE bench

# Qt and the system libraries are not instrumented: what they allocate, free
# and copy inside themselves (image slices on Qt's thread pool, strings
# handed to Qt's D-Bus and proxy threads) is ordered by locks the sanitizer
# cannot see, so their own calls are not checked (ignore_noninstrumented_modules).
# Every access in Tessaline's code still is.
test-tsan: san-deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(BUILD_TSAN) -G Ninja -DTESS_SANITIZE=thread
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS=suppressions=$(SAN_DIR)/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1 \
	  ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS) -L threads -LE bench

# The fuzz harnesses of tests/fuzz under libFuzzer + ASan + UBSan, one after
# the other. New corpus entries and crash inputs stay in the build tree
# ($(BUILD_FUZZ)/tests/fuzz/work/<harness>/); `make test` replays the seed
# corpus and tests/fuzz/crashes/ in every build.
fuzz: san-deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(BUILD_FUZZ) -G Ninja -DTESS_FUZZ=ON \
	  -DTESS_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers
	ctest --test-dir $(BUILD_FUZZ) --output-on-failure -L fuzz

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_FUZZ)
