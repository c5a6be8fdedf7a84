# Thin wrappers over scripts/ (what the README and CI call).
.PHONY: run test build bench conformance clean selftest windows

run:
	@scripts/run $(ARGS)

test:
	@scripts/test

# The self-test for a real Premiere Pro (see the README); ARGS="--sim 25.6" runs it
# against the simulator instead.
selftest:
	@scripts/selftest $(ARGS)

build:
	@scripts/build

# The Windows binaries, cross-built with MinGW-w64 and tested under Wine (Debian only).
windows:
	@scripts/install-deps && scripts/windows

conformance:
	@scripts/install-deps && scripts/build --target cutrelay && scripts/conformance

bench:
	@scripts/build && build/bench_ping_roundtrip 5000 && build/bench_load 3

clean:
	rm -rf build build-windows
