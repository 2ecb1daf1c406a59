#!/usr/bin/env bash
# make verify-release: scripts/verify-release.sh CA-BUNDLE FOLDER-OR-PROGRAM...
#
# Checks signed programs (every *.exe under each folder named) and says, one
# line for each: whether its Authenticode signature is valid against the CA
# bundle named (PEM certificates), who signed it, and whether the program
# without its signature is byte for byte one of the release programs of this
# commit (VERIFY_COMMIT, default HEAD), which is built afresh for the purpose
# from the commit's files in a temporary tree: neither dist/ nor any other
# earlier build is trusted. VERIFY_CRL names a CRL file to check revocation
# against. Exits 1 when any answer is no, 2 when the check itself cannot run.
set -euo pipefail
repo="$(realpath "$(dirname "$0")/..")"

usage() {
    echo "usage: $0 CA-BUNDLE FOLDER-OR-PROGRAM..." >&2
    exit 2
}
[ $# -ge 2 ] || usage
ca="$1"
shift
[ -n "$ca" ] || { echo "verify-release: name the CA bundle to check against (make verify-release CA=FILE)" >&2; exit 2; }
[ -r "$ca" ] || { echo "verify-release: cannot read the CA bundle $ca" >&2; exit 2; }
command -v osslsigncode >/dev/null 2>&1 || { echo "verify-release: osslsigncode is not installed (make deps)" >&2; exit 2; }

files=()
for where in "$@"; do
    if [ -d "$where" ]; then
        mapfile -t -O "${#files[@]}" files < <(find "$where" -type f -iname '*.exe' | LC_ALL=C sort)
    elif [ -f "$where" ]; then
        files+=("$where")
    else
        echo "verify-release: no such folder or file: $where" >&2
        exit 2
    fi
done
[ ${#files[@]} -gt 0 ] || { echo "verify-release: no .exe found in: $*" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tasktools-verify.XXXXXX")
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$repo" rev-parse --verify "${VERIFY_COMMIT:-HEAD}^{commit}")
short=${commit:0:12}

# The commit's own build, from its files alone (an export: no working tree
# change, no build directory of this checkout).
echo "Building commit $short afresh in $work/source ..." >&2
mkdir "$work/source"
git -C "$repo" archive --format=tar "$commit" | tar -x -C "$work/source"
if ! "$work/source/scripts/build.sh" release >"$work/build.log" 2>&1; then
    tail -n 20 "$work/build.log" >&2
    echo "verify-release: commit $short does not build (the end of its log is above)" >&2
    exit 2
fi
release=$work/source/dist
mapfile -t built < <(cd "$release" && find . -type f -name '*.exe' -printf '%P\n' | LC_ALL=C sort)

crl=()
if [ -n "${VERIFY_CRL:-}" ]; then crl=(-CRLfile "$VERIFY_CRL"); fi

# The reason osslsigncode gives for a refusal, in words.
reason() {
    local log="$1"
    if grep -q 'No signature found' "$log"; then
        echo "the program is not signed"
    elif grep -q 'MISMATCH' "$log"; then
        echo "the program was changed after it was signed (its digest is not the signed one)"
    elif grep -q "Unsupported Signer's certificate purpose" "$log"; then
        echo "the signer's certificate is not one for code signing"
    elif grep -q 'Verify error:' "$log"; then
        echo "the certificate does not lead to $ca: $(grep -o 'Verify error:.*' "$log" | head -n 1 | cut -c15-)"
    else
        echo "$(grep -vE '^\s|^$' "$log" | grep -ivE 'checksum|^Failed$' | tail -n 1)"
    fi
}

status=0
for file in "${files[@]}"; do
    osslsigncode verify -CAfile "$ca" "${crl[@]}" -in "$file" >"$work/verify.log" 2>&1 && valid=1 || valid=""
    signer=$(awk '/^Signer.s certificate:/ { on = 1 } on && /Subject:/ { sub(/^[ \t]*Subject: */, ""); print; exit }' \
        "$work/verify.log")
    if [ -n "$valid" ]; then
        signature="signature: yes (valid against $ca)"
    else
        signature="signature: no ($(reason "$work/verify.log"))"
        status=1
    fi

    # The bytes without the signature: an unsigned program is compared as it is.
    unsigned="$work/unsigned.exe"
    rm -f "$unsigned"
    osslsigncode remove-signature -in "$file" -out "$unsigned" >/dev/null 2>&1 || cp "$file" "$unsigned"
    match=""
    for program in "${built[@]}"; do
        if cmp -s "$unsigned" "$release/$program"; then match=$program; fi
    done
    if [ -n "$match" ]; then
        build="build: yes (without its signature, $match of commit $short byte for byte)"
    else
        build="build: no (without its signature, not byte for byte any program of commit $short)"
        status=1
    fi
    echo "$file: $signature; signed by: ${signer:-nobody}; $build"
done
exit $status
