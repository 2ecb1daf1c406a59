# make        builds the release programs into dist/
# make run    installs what is missing, builds, and runs the programs in a demo Wine prefix
# make test   installs what is missing, builds both architectures and runs every test under Wine
# make fuzz   installs what is missing and fuzzes each parser of core/ for FUZZ_SECONDS (default 60) seconds
# make sign   builds the committed, tagged tree and signs its programs into dist/signed/ (README: Signing a release)
# make verify-release CA=FILE [SIGNED=dist/signed]
#             says of each signed program whether its signature is valid against the CA bundle FILE, who signed
#             it, and whether it is, without its signature, byte for byte this commit's build (made afresh)
# make bench  installs what is missing, builds, and benchmarks the programs against floor programs under Wine (bench/)
.PHONY: all run test fuzz bench deps clean sign verify-release

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

sign: deps
	scripts/sign.sh

SIGNED ?= dist/signed
verify-release: deps
	scripts/verify-release.sh "$(CA)" $(SIGNED)

bench: deps
	bench/run.sh

clean:
	rm -rf build dist
