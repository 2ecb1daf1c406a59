# make        builds the release programs into dist/
# make run    installs what is missing, builds, and runs the programs in a demo Wine prefix
# make test   installs what is missing, builds both architectures and runs every test under Wine
# make fuzz   installs what is missing and fuzzes each parser of core/ for FUZZ_SECONDS (default 60) seconds
# make bench  installs what is missing, builds, and benchmarks the programs against floor programs under Wine (bench/)
.PHONY: all run test fuzz bench deps clean

all: deps
	scripts/build.sh release

deps:
	scripts/deps.sh

run: deps
	scripts/build.sh release
	scripts/demo.sh

test: deps
	scripts/test.sh

fuzz: deps
	scripts/fuzz.sh run

bench: deps
	bench/run.sh

clean:
	rm -rf build dist
