# Newcomer entry points: `make run` and `make test` install what is missing,
# build, and run. Binaries land in build/bin/.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := g++ gcc make cmake pkg-config libapr1-dev libgtest-dev libz3-dev dpkg-dev groff-base
# The armhf build: a cross compiler and qemu-arm here, the target's libraries
# in a sysroot of Debian armhf packages (scripts/fetch-armhf-sysroot.sh).
ARMHF_PACKAGES := crossbuild-essential-armhf qemu-user cmake pkg-config file groff-base
ARMHF_BUILD_DIR := build-armhf
ARMHF_SYSROOT := build-sysroot/armhf
# `make bench` needs these as well; `make test` does not.
BENCH_PACKAGES := valgrind libbenchmark-dev libmuparser-dev
BENCH_DIR ?= build-bench
# The expression checked by `make run`; override with make run EXPR='...'.
# It is read with $(value ...), so a $ in it reaches quillet as written.
EXPR ?= (1 + 2) * 3 >= {$4} && 5 != 6

# Debian packages: debhelper builds them (make package, and the package test
# of make test); make package has lintian judge them.
DEB_PACKAGES := debhelper
PACKAGE_DIR := build-packages
# The configuration that links the platform's own log library, checked by
# make test against the stand-in installed into a scratch prefix.
PLATFORM_LOG_DIR := build-platform-log

# Layout is clang-format's (.clang-format): make format rewrites every C/C++
# file, make test fails on one that is not formatted.
LINT_PACKAGES := clang-format clang-tidy
FORMAT_FILES = $(shell git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h' 2>/dev/null || find cli expr log platform examples bench tests fuzz -name '*.[ch]' -o -name '*.cpp')

# The instrumented runs of make test (sanitizers, fuzzing, memcheck) and
# make coverage need these as well.
HARDEN_PACKAGES := clang libclang-rt-dev valgrind
COVERAGE_PACKAGES := gcovr
FUZZ_SECONDS ?= 30

.PHONY: all deps build run test test-platform-log bench bench-build clean armhf-configure build-armhf test-armhf package format format-check lint

all: build

deps:
	@scripts/ensure-packages.sh $(PACKAGES)

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@expr='$(value EXPR)'; echo "quillet -s '$$expr'"; status=0; \
	  $(BUILD_DIR)/bin/quillet -s "$$expr" || status=$$?; echo "exit status: $$status"

test: deps-harden format-check lint build
	@scripts/ensure-packages.sh $(DEB_PACKAGES)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-platform-log
	@$(MAKE) --no-print-directory test-asan test-tsan
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10

format:
	@scripts/ensure-packages.sh $(LINT_PACKAGES)
	clang-format -i $(FORMAT_FILES)

# Names every file whose layout differs from clang-format's.
format-check:
	@scripts/ensure-packages.sh $(LINT_PACKAGES)
	@out=$$(clang-format --dry-run --Werror $(FORMAT_FILES) 2>&1) || \
	  { printf '%s\n' "$$out" | grep -o '^[^: ]*:[0-9]*:[0-9]*: error' | cut -d: -f1 | sort -u | \
	    sed 's/^/not formatted: /'; echo 'make format rewrites them'; exit 1; }

# clang-tidy (.clang-tidy; platform/, tests/ and fuzz/ adjust it) over the
# compile databases: the plain build's for cli expr log platform examples
# tests, the fuzz preset's (clang flags) for fuzz/. It only configures them.
# Any finding fails and is printed; bench/ is left out (make bench's packages).
# Files and headers are matched below this checkout only (SOURCE_RE), so a
# folder of the same name above it, or a generated header under build/, is not.
# $(call tidy,build directory,folders)
SOURCE_RE := $(shell printf '%s' '$(CURDIR)' | sed 's/[][\.*^$$+?(){}|]/\\&/g')
tidy = @echo 'clang-tidy -p $(1) $(2)'; run-clang-tidy -p $(1) -quiet -j $(JOBS) \
  -header-filter '^$(SOURCE_RE)/$(2)/' '^$(SOURCE_RE)/$(2)/[^/]*$$' >$(1)/clang-tidy.txt 2>&1 || \
  { sed 's/\x1b\[[0-9;]*m//g' $(1)/clang-tidy.txt | grep -Ev '^clang-tidy-[0-9]+ | generated\.$$'; exit 1; }
lint: deps-harden
	@scripts/ensure-packages.sh $(LINT_PACKAGES)
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(call tidy,$(BUILD_DIR),(cli|expr|log|platform|examples|tests|check))
	cmake --preset fuzz >/dev/null
	$(call tidy,build-fuzz,fuzz)

# Cross-builds for 32-bit ARM and runs every test under qemu-arm.
build-armhf: armhf-configure
	cmake --build --preset armhf -j $(JOBS)

# The cross compiler, qemu-arm and the sysroot, then build-armhf configured.
armhf-configure:
	@scripts/ensure-packages.sh $(ARMHF_PACKAGES)
	scripts/fetch-armhf-sysroot.sh $(ARMHF_SYSROOT)
	cmake --preset armhf

test-armhf: build-armhf
	@file $(ARMHF_BUILD_DIR)/bin/* $(ARMHF_BUILD_DIR)/lib/*.so | tee $(ARMHF_BUILD_DIR)/file.txt
	@! grep -v 'ELF 32-bit LSB .* ARM, EABI5' $(ARMHF_BUILD_DIR)/file.txt
	ctest --preset armhf -j $(JOBS)

# The platform's library is our stand-in, installed elsewhere; only the tests
# that do not read the stand-in's own records are built and run.
test-platform-log: build
	rm -rf $(PLATFORM_LOG_DIR)
	cmake --install $(BUILD_DIR) --component quorlithpub --prefix $(CURDIR)/$(PLATFORM_LOG_DIR)/platform
	cmake -S . -B $(PLATFORM_LOG_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUILLET_PLATFORM_LOG_LIBRARY=$(CURDIR)/$(PLATFORM_LOG_DIR)/platform/lib/libquorlithpub.so
	cmake --build $(PLATFORM_LOG_DIR) -j $(JOBS)
	ctest --test-dir $(PLATFORM_LOG_DIR) --output-on-failure -j $(JOBS)

# Debian packages for this machine and for armhf: the source package of the
# work tree, then the binaries built from it, all in $(PACKAGE_DIR). Each
# architecture is built twice, the second time under a longer path (the
# sysroot's too), and every .deb (and the .dsc) of the two builds must be
# byte-identical.
# lintian judges the source package and each .deb: any error or warning fails.
PACKAGE_REBUILD_DIR := $(PACKAGE_DIR)/rebuilt-under-a-longer-path
package: deps
	@scripts/ensure-packages.sh $(DEB_PACKAGES) lintian $(ARMHF_PACKAGES)
	scripts/fetch-armhf-sysroot.sh $(ARMHF_SYSROOT)
	rm -rf $(PACKAGE_DIR)
	scripts/build-debs.sh $(PACKAGE_DIR) $$(dpkg --print-architecture) armhf
	mkdir -p $(PACKAGE_REBUILD_DIR)
	ln -s $(CURDIR)/$(ARMHF_SYSROOT) $(PACKAGE_REBUILD_DIR)/sysroot-armhf
	QUILLET_ARMHF_SYSROOT=$(CURDIR)/$(PACKAGE_REBUILD_DIR)/sysroot-armhf \
	  scripts/build-debs.sh $(PACKAGE_REBUILD_DIR) $$(dpkg --print-architecture) armhf
	@differ=0; for name in $$( (cd $(PACKAGE_DIR) && ls *.deb *.dsc; cd $(CURDIR)/$(PACKAGE_REBUILD_DIR) && ls *.deb *.dsc) | sort -u); do \
	  cmp -s $(PACKAGE_DIR)/$$name $(PACKAGE_REBUILD_DIR)/$$name || { echo "not reproducible: $$name"; differ=1; }; \
	done; [ $$differ = 0 ] || { echo "the two builds differ (diffoscope shows how)"; exit 1; }; \
	echo "reproducible: the .dsc and $$(ls $(PACKAGE_DIR)/*.deb | wc -l) .deb files byte-identical in both builds"
	@failed=0; for file in $(PACKAGE_DIR)/*.dsc $(PACKAGE_DIR)/*.deb; do \
	  lintian --fail-on error,warning "$$file" >$(PACKAGE_DIR)/lintian.txt 2>/dev/null || failed=1; \
	  cat $(PACKAGE_DIR)/lintian.txt; \
	  echo "lintian $${file##*/}: $$(grep -c '^E:' $(PACKAGE_DIR)/lintian.txt) errors," \
	       "$$(grep -c '^W:' $(PACKAGE_DIR)/lintian.txt) warnings"; \
	done; exit $$failed

# Benchmarks (never part of `make test`): the pipeline, start-up, then the
# instructions an evaluation costs here and on 32-bit ARM (of the armhf
# build, only the counting program is built).
bench: bench-build armhf-configure
	$(BENCH_DIR)/bin/quillet_bench
	bench/startup.sh $(BENCH_DIR)
	cmake --build --preset armhf -j $(JOBS) --target quillet_call_count
	bench/count-instructions.sh $(BENCH_DIR) $(ARMHF_BUILD_DIR)
	bench/check-targets.sh $(BENCH_DIR)

bench-build: deps
	@scripts/ensure-packages.sh $(BENCH_PACKAGES)
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(ARMHF_BUILD_DIR) $(BENCH_DIR) $(PACKAGE_DIR) $(PLATFORM_LOG_DIR) build-asan build-tsan build-fuzz build-coverage

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
.PHONY: deps-harden test-asan test-tsan fuzz coverage
deps-harden:
	@scripts/ensure-packages.sh $(PACKAGES) $(HARDEN_PACKAGES)

test-asan: deps-harden
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The concurrency test under ThreadSanitizer.
test-tsan: deps-harden
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# Each libFuzzer target for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600).
fuzz: deps-harden
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# Line coverage of the suite, per file and per folder; fails under 95%.
coverage: deps-harden
	@scripts/ensure-packages.sh $(COVERAGE_PACKAGES)
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	ctest --preset coverage -j $(JOBS)
	scripts/coverage.sh build-coverage expr cli log platform
