# make        builds the release programs into dist/
# make run    installs what is missing, builds, and runs the programs in a demo Wine prefix
# make test   installs what is missing, builds both architectures and runs every test under Wine
.PHONY: all run test deps clean

all: deps
	scripts/build.sh release

deps:
	scripts/deps.sh

run: deps
	scripts/build.sh release
	scripts/demo.sh

test: deps
	scripts/test.sh

clean:
	rm -rf build dist
