# The two commands of the README: `make run` and `make test`.
# Both install what is missing, configure and build first.

BUILD      ?= build
BUILD_TSAN ?= build-tsan
BUILD_ASAN ?= build-asan
BUILD_BENCH ?= build-bench
JOBS       ?= $(shell nproc)
# Each tree's ctest runs twice as many tests as there are processors: a test
# with a sound server mostly waits on the server's clock. Every other test
# takes two of these slots (ctest PROCESSORS, tests/CMakeLists.txt), so no
# more of them than processors run at once. In the sanitizer trees the code
# that runs per sample is optimised (cmake/BuildSpeed.cmake), so a server
# test's capture keeps up there too.
TEST_JOBS  ?= $(shell echo $$((2 * $(JOBS))))
GENERATOR  := -G Ninja
CMAKE_ARGS ?=

.PHONY: all deps configure build run test test-main test-tsan test-asan test-repeat bench package clean

# `make test-repeat 20` (or `make test-repeat N=20`): the number may follow
# the goal as a word of its own, which then is no goal to make.
ifeq (test-repeat,$(firstword $(MAKECMDGOALS)))
  REPEAT := $(or $(word 2,$(MAKECMDGOALS)),$(N),5)
  ifneq (,$(word 2,$(MAKECMDGOALS)))
    $(eval $(REPEAT):;@:)
  endif
endif

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/src/main/tempovaro

# Each pass: a build tree, and the tests run in it.
define main_tests
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(TEST_JOBS) --timeout 600
endef
# A sanitizer tree: $(1) its folder, $(2) the option, $(3) what it builds.
define sanitizer_tree
	$(NICE) cmake -S . -B $(1) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -D$(2)=ON $(CMAKE_ARGS)
	$(NICE) cmake --build $(1) -j$(JOBS) --target $(3)
endef
# Trigger and capture tests (label "threads") under ThreadSanitizer.
tsan_tree = $(call sanitizer_tree,$(BUILD_TSAN),TEMPOVARO_TSAN,tempovaro_threads_tests)
define tsan_tests
	cd $(BUILD_TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j$(TEST_JOBS) -L threads --timeout 600
endef
# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer:
# every program the tests run, every test but the install and package checks
# (label "packaging"), which look at files a sanitizer does not change.
asan_tree = $(call sanitizer_tree,$(BUILD_ASAN),TEMPOVARO_ASAN,tempovaro_tests)
define asan_tests
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  ctest --output-on-failure -j$(TEST_JOBS) -LE packaging --timeout 900
endef

test-main: build
	$(main_tests)
test-tsan: deps
	$(tsan_tree)
	$(tsan_tests)
test-asan: deps
	$(asan_tree)
	$(asan_tests)

# The whole suite; the threaded tests again under ThreadSanitizer; the whole
# suite again under AddressSanitizer and UBSan, each in its own build tree.
# A pass's tests mostly wait on the sound servers' clocks, so the next tree
# compiles meanwhile, at the lowest priority: the tests take the processors
# whenever they need them. Each half's output is printed whole as it ends.
test: build
	@$(MAKE) --no-print-directory -j2 --output-sync=target pass-main-tests pass-tsan-tree
	@$(MAKE) --no-print-directory -j2 --output-sync=target pass-tsan-tests pass-asan-tree
	@$(MAKE) --no-print-directory pass-asan-tests

.PHONY: pass-main-tests pass-tsan-tree pass-tsan-tests pass-asan-tree pass-asan-tests
pass-main-tests:
	$(main_tests)
pass-tsan-tree pass-asan-tree: NICE := nice -n 19
pass-tsan-tree:
	$(tsan_tree)
pass-asan-tree:
	$(asan_tree)
pass-tsan-tests:
	$(tsan_tests)
pass-asan-tests:
	$(asan_tests)

# The tests that start sound servers, again and again under load: how often
# each failed (scripts/test-repeat).
test-repeat: build
	scripts/test-repeat $(BUILD) $(REPEAT)

bench: deps
	cmake -S . -B $(BUILD_BENCH) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTEMPOVARO_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_BENCH) -j$(JOBS)
	cd $(BUILD_BENCH)/bench && for b in ./bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; QT_QPA_PLATFORM=offscreen "$$b" || exit 1; done

# A Debian package (.deb) in the build tree, dependencies computed by dpkg-shlibdeps:
#   sudo apt install ./build/tempovaro_*.deb
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(BUILD_TSAN) $(BUILD_ASAN) $(BUILD_BENCH)
