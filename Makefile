# make build  - Launcher.exe as shipped (build/win32/bin/Launcher.exe)
# make demo   - run it under Wine against a sample installer and show what it started
# make test   - every test (host, file contract, Wine), in one ctest run
#               (EMULATE_32BIT=1: as a machine that cannot run 32-bit programs runs them, through qemu-i386)
# make bench  - Launcher.exe and Launcher-same-publisher.exe against a plain-C floor under Wine
#               (a benchmark: prints, asserts nothing)
# make fuzz   - each libFuzzer target for FUZZ_SECONDS (default 60)
# make sign PKCS11_MODULE=module.so KEY='pkcs11:...' CERT=chain.pem PIN_FILE=pin [TIMESTAMP_URL=...]
#           (or CERT=chain.pem KEY=key.pem, or PKCS12=bundle.p12; with PASS_FILE=... for a password)
#             - build/release/Launcher.exe and Launcher-same-publisher.exe, signed with Authenticode (SHA-256)
# make verify FILE=Launcher.exe [CAFILE=ca.pem] [TSA_CAFILE=tsa-ca.pem] [CRLFILE=crls.pem]
#             - whether FILE is one of this commit's two launchers, its signature and timestamp intact and trusted
#               (exit 0 only then); offline once a first run has fetched the locked toolchain
# make lock [DEBIAN=release]
#             - release/toolchain.lock anew: the versions the mirror has now of the release toolchain,
#               which make sign and make verify build in (MIRROR=... for another archive)
# make kit   - build/kit/LauncherChecks.zip: the shipped Launcher.exe and Launcher-same-publisher.exe, the
#               test programs and a runner that checks them and the platform facts on a real Windows
#               machine (reproducible)
# make fresh DEBIAN=bookworm|trixie [MID_SYNC=yes|SUITE]
#             - a minbase root of that Debian release with a clean clone of this commit, where make demo
#               and make test run as on a newcomer's machine (downloads several hundred packages);
#               MID_SYNC=yes: its apt reads a local mirror whose security i386 indexes are mid-sync
#               (MID_SYNC=SUITE: that suite's)
# Each target first installs what it needs (scripts/install-deps.sh; idempotent, needs root once).
.PHONY: deps build test demo bench fuzz sign verify kit fresh lock clean

# make sign's settings reach its script through the environment, never a command line that ps shows.
export PKCS11_MODULE KEY CERT PKCS12 PIN_FILE PIN PASS_FILE PASS TIMESTAMP_URL
# make test EMULATE_32BIT=1: the path of a machine that cannot run 32-bit programs (scripts/make-test.sh).
export EMULATE_32BIT

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

# When make test started, for the time its last step says (scripts/run-ctest.sh).
test: export LAUNCHER_TEST_STARTED := $(shell date +%s)
test: build
	@scripts/make-test.sh

demo: build
	@scripts/demo.sh

bench: build
	@bench/run.sh

fuzz: deps
	@scripts/fuzz.sh

sign: deps
	@release/sign-release.sh

verify: deps
	@release/verify-release.sh "$(FILE)" "$(CAFILE)" "$(TSA_CAFILE)" "$(CRLFILE)"

kit: build
	@kit/make-kit.sh

lock:
	@release/lock-toolchain.sh $(DEBIAN)

fresh:
	@MID_SYNC="$(MID_SYNC)" scripts/fresh-machine.sh "$(DEBIAN)"

clean:
	rm -rf build
