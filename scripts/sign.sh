#!/usr/bin/env bash
# make sign: builds the committed tree and signs its three release programs with
# Authenticode (SHA-256) into dist/signed/, with their own SHA256SUMS. dist/
# itself stays the unsigned, reproducible build. The variables that name the
# key, the password file, the URL and the time-stamp server are listed in the
# README (Signing a release). SIGN_TREE names the checkout whose build is signed
# (default: this one).
#
# Refuses, saying why, a tree with uncommitted changes (its build would not be
# the commit's), a commit without a release tag, or a release tag whose number
# is not the version that resources/version.h gives the programs.
set -euo pipefail
tree="$(realpath "${SIGN_TREE:-$(dirname "$0")/..}")"
cd "$tree"

fail() {
    echo "sign: refused: $*" >&2
    exit 1
}

have() { command -v "$1" >/dev/null 2>&1; }
have osslsigncode || fail "osslsigncode is not installed (make deps installs it)"
have git && git rev-parse --git-dir >/dev/null 2>&1 || fail "$tree is not a git checkout: the build to sign must be a commit's"

# The version the programs carry, from the one file that holds it: the text and
# the numbers of the version resource must be the same number.
version=$(sed -n 's/^#define TOOLS_VERSION_TEXT "\([0-9.]*\)"$/\1/p' resources/version.h)
numbers=$(sed -n 's/^#define TOOLS_VERSION_NUMBERS \([0-9,]*\)$/\1/p' resources/version.h)
[ -n "$version" ] || fail "resources/version.h defines no TOOLS_VERSION_TEXT of the form \"1.2.3.4\""
[ "${numbers//,/.}" = "$version" ] ||
    fail "resources/version.h gives two versions: TOOLS_VERSION_NUMBERS $numbers but TOOLS_VERSION_TEXT $version"

commit=$(git rev-parse HEAD)
changes=$(git status --porcelain --untracked-files=normal)
if [ -n "$changes" ]; then
    fail "the working tree has uncommitted changes, so its build would not be commit ${commit:0:12}'s:
$(echo "$changes" | head -n 10)
Commit or stash them (git stash -u), then run make sign again."
fi

# A release is a tagged commit, and its tag names the version inside its files.
tags=$(git tag --points-at HEAD --list 'v[0-9]*')
[ -n "$tags" ] || fail "commit ${commit:0:12} carries no release tag: tag it with the version its programs carry," \
    "git tag -a v$version -m 'Release $version' (the number is in resources/version.h)"
for tag in $tags; do
    [ "$tag" = "v$version" ] || fail "commit ${commit:0:12} is tagged $tag, but its programs carry version $version" \
        "(resources/version.h): a release tag must name that number (v$version)"
done

# The key: a PKCS#12 file, or a key on a PKCS#11 token with its certificate on
# the token or in a file. The password (the token's PIN) is read from a file,
# never given on a command line, where other users could see it.
key=()
if [ -n "${SIGN_PKCS12:-}" ]; then
    [ -r "$SIGN_PKCS12" ] || fail "SIGN_PKCS12: cannot read $SIGN_PKCS12"
    key=(-pkcs12 "$SIGN_PKCS12")
elif [ -n "${SIGN_PKCS11_MODULE:-}" ]; then
    [ -n "${SIGN_PKCS11_KEY:-}" ] || fail "SIGN_PKCS11_MODULE is set but SIGN_PKCS11_KEY (the key's id or URI) is not"
    key=(-pkcs11module "$SIGN_PKCS11_MODULE" -key "$SIGN_PKCS11_KEY")
    if [ -n "${SIGN_PKCS11_ENGINE:-}" ]; then key+=(-pkcs11engine "$SIGN_PKCS11_ENGINE"); fi
    if [ -n "${SIGN_CERTS:-}" ]; then
        key+=(-certs "$SIGN_CERTS")
    elif [ -n "${SIGN_PKCS11_CERT:-}" ]; then
        key+=(-pkcs11cert "$SIGN_PKCS11_CERT")
    else
        fail "a PKCS#11 key needs its certificate: SIGN_PKCS11_CERT (on the token) or SIGN_CERTS (a PEM file)"
    fi
else
    fail "no signing key: set SIGN_PKCS12 (a PKCS#12 file) or SIGN_PKCS11_MODULE and SIGN_PKCS11_KEY (a token)"
fi
if [ -n "${SIGN_PASSFILE:-}" ]; then
    [ -r "$SIGN_PASSFILE" ] || fail "SIGN_PASSFILE: cannot read $SIGN_PASSFILE"
    key+=(-readpass "$SIGN_PASSFILE")
fi
[ -n "${SIGN_URL:-}" ] || fail "SIGN_URL is not set: the URL of the release, shown with the publisher's name"
# An RFC 3161 time-stamp keeps the signature valid after the certificate expires.
stamp=()
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then stamp=(-ts "$SIGN_TIMESTAMP_URL"); fi

echo "Building commit ${commit:0:12} (version $version) ..."
scripts/build.sh release >/dev/null
programs=(x64/TaskRoll.exe x86/TaskRoll.exe x86/Webroster.exe)
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "dist/ does not match its own SHA256SUMS after the build"

# Signed into a directory beside dist/signed and moved there when all is done,
# so that a failed run leaves no half-signed release.
staging=$(mktemp -d dist/.signing.XXXXXX)
trap 'rm -rf "$staging"' EXIT
chmod 755 "$staging"
for program in "${programs[@]}"; do
    name=$(basename "$program" .exe)
    mkdir -p "$staging/$(dirname "$program")"
    if ! osslsigncode sign "${key[@]}" -h sha256 -n "$name" -i "$SIGN_URL" "${stamp[@]}" \
        -in "dist/$program" -out "$staging/$program" >"$staging/log" 2>&1; then
        cat "$staging/log" >&2
        echo "sign: osslsigncode could not sign dist/$program (its output is above)" >&2
        exit 1
    fi
    # The signature must be all that was added: taken off again, the reproducible bytes remain.
    osslsigncode remove-signature -in "$staging/$program" -out "$staging/unsigned" >/dev/null 2>&1 &&
        cmp -s "$staging/unsigned" "dist/$program" ||
        fail "the signed $program without its signature is not dist/$program byte for byte"
    rm -f "$staging/unsigned" "$staging/log"
    echo "signed: dist/signed/$program"
done
(cd "$staging" && sha256sum "${programs[@]}" >SHA256SUMS)
rm -rf dist/signed
mv "$staging" dist/signed
trap - EXIT
echo "Signed release $version (commit ${commit:0:12}) in $tree/dist/signed; check it with make verify-release CA=..."
