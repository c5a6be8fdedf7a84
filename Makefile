# Thin wrappers over scripts/ (what the README and CI call).
.PHONY: run test build bench conformance clean

run:
	@scripts/run $(ARGS)

test:
	@scripts/test

build:
	@scripts/build

conformance:
	@scripts/install-deps && scripts/build --target cutrelay && scripts/conformance

bench:
	@scripts/build && build/bench_ping_roundtrip 5000 && build/bench_load 3

clean:
	rm -rf build
