# Thin wrappers over scripts/ (what the README and CI call).
.PHONY: run test build clean

run:
	@scripts/run $(ARGS)

test:
	@scripts/test

build:
	@scripts/build

clean:
	rm -rf build
