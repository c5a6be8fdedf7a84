# Thin wrappers over scripts/ (what the README and CI call).
.PHONY: run test build bench clean

run:
	@scripts/run $(ARGS)

test:
	@scripts/test

build:
	@scripts/build

bench:
	@scripts/build && build/bench_ping_roundtrip 5000 && build/bench_load 3

clean:
	rm -rf build
