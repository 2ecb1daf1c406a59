# make        builds the release programs into dist/
# make run    installs what is missing, builds, and runs the programs in a demo Wine prefix
# make test   installs what is missing, builds both architectures and runs every test under Wine
# make bench  installs what is missing, builds, and benchmarks the programs against floor programs under Wine (bench/)
.PHONY: all run test bench deps clean

all: deps
	scripts/build.sh release

deps:
	scripts/deps.sh

run: deps
	scripts/build.sh release
	scripts/demo.sh

test: deps
	scripts/test.sh

bench: deps
	bench/run.sh

clean:
	rm -rf build dist
