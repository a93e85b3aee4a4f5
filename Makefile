# make build  - Launcher.exe as shipped (build/win32/bin/Launcher.exe)
# make demo   - run it under Wine against a sample installer and show what it started
# make test   - every test (host, file contract, Wine), in one ctest run
# make bench  - Launcher.exe against a plain-C floor under Wine (a benchmark: prints, asserts nothing)
# make fuzz   - each libFuzzer target for FUZZ_SECONDS (default 60)
# make sign CERT=cert.pem KEY=key.pem [PASS=...] [TIMESTAMP_URL=...]   (or PKCS12=bundle.p12)
#             - build/release/Launcher.exe, signed with Authenticode (SHA-256)
# make verify FILE=Launcher.exe [CAFILE=ca.pem]
#             - whether FILE is this commit's launcher, and its signature intact (exit 0 only then)
# Each target first installs what it needs (scripts/install-deps.sh; idempotent, needs root once).
.PHONY: deps build test demo bench fuzz sign verify clean

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

test: build
	@preset=$$(scripts/wine-test-preset.sh); \
	 echo "Wine tests run on the $$preset build"; \
	 cmake --preset $$preset >/dev/null && cmake --build --preset $$preset && \
	 cmake --preset fuzz >/dev/null && cmake --build --preset fuzz && \
	 cmake --preset host -DLAUNCHER_SHIPPED_EXE=$(CURDIR)/build/win32/bin/Launcher.exe \
	       -DLAUNCHER_WINE_TEST_DIR=$(CURDIR)/build/$$preset -DLAUNCHER_FUZZ_DIR=$(CURDIR)/build/fuzz >/dev/null && \
	 cmake --build --preset host && \
	 ctest --test-dir build/host --output-on-failure -j 2

demo: build
	@scripts/demo.sh

bench: build
	@bench/run.sh

fuzz: deps
	@scripts/fuzz.sh

sign: build
	@CERT="$(CERT)" KEY="$(KEY)" PKCS12="$(PKCS12)" PASS="$(PASS)" TIMESTAMP_URL="$(TIMESTAMP_URL)" \
	 scripts/sign-release.sh

verify: deps
	@scripts/verify-release.sh "$(FILE)" "$(CAFILE)"

clean:
	rm -rf build
