#!/usr/bin/env bash
# make sign and verify-release with a throwaway CA made for this run: a build of
# HEAD in a clone of its own is signed, checked, and changed in the ways a
# release must be refused for; the signed programs must pass the release test
# and run under Wine as the unsigned ones do (test.sh runs this in its prefix).
set -uo pipefail
cd "$(dirname "$0")/../.."
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tasktools-signing.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/pki" "$tmp/out" "$tmp/cases"
status=0

# The CA, a code-signing certificate and one for web servers only, each in a
# PKCS#12 file with a password.
pki=$tmp/pki
openssl rand -hex 16 >"$pki/pass"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=TaskTools Throwaway CA" -keyout "$pki/ca.key" \
    -out "$pki/ca.pem" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
for use in codeSigning serverAuth; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=TaskTools Test $use" -CA "$pki/ca.pem" \
        -CAkey "$pki/ca.key" -addext basicConstraints=CA:FALSE -addext keyUsage=critical,digitalSignature \
        -addext "extendedKeyUsage=$use" -keyout "$pki/$use.key" -out "$pki/$use.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$pki/$use.key" -in "$pki/$use.pem" -passout "file:$pki/pass" -out "$pki/$use.p12"
done

src=$tmp/src
git clone -q --shared --no-tags . "$src"
git -C "$src" checkout -q --detach "$(git rev-parse HEAD)"
version=$(sed -n 's/^#define TOOLS_VERSION_TEXT "\(.*\)"$/\1/p' resources/version.h)
# sign CASE [CERTIFICATE]: make sign in the clone; its messages go to out/CASE,
# the signed programs to cases/CASE.
sign() {
    SIGN_TREE=$src SIGN_PKCS12=$pki/${2:-codeSigning}.p12 SIGN_PASSFILE=$pki/pass SIGN_URL=https://example.invalid/r \
        scripts/sign.sh >"$tmp/out/$1" 2>&1 && cp -r "$src/dist/signed" "$tmp/cases/$1"
}
git -C "$src" tag "v$version"
sign web-cert serverAuth
sign good && cp -r "$src/dist" "$tmp/dist"
echo >>"$src/README.md" && ! sign dirty-tree && git -C "$src" checkout -q README.md
# Another commit: the next version number, first tagged wrongly, then not at all, then rightly.
next="${version%.*}.$((${version##*.} + 1))"
sed -i "s/\"$version\"/\"$next\"/; s/ ${version//./,}\$/ ${next//./,}/" "$src/resources/version.h"
git -C "$src" -c user.name=test -c user.email=test@example.invalid commit -qam "Next version"
git -C "$src" tag "v$version-rc" && ! sign wrong-tag && git -C "$src" tag -d "v$version-rc" >/dev/null
! sign untagged
git -C "$src" tag "v$next" && sign other-commit
mkdir "$tmp/cases/changed" && changed=$tmp/cases/changed/TaskRoll.exe && cp "$tmp/cases/good/x86/TaskRoll.exe" "$changed"
offset=$(($(stat -c %s "$changed") / 2)) && byte=$(od -An -tu1 -j "$offset" -N1 "$changed")
printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$changed" bs=1 seek="$offset" conv=notrunc status=none

# verify-release once over the good release (every answer yes), once over the rest.
verify() { scripts/verify-release.sh "$pki/ca.pem" "$@" 2>/dev/null; }
verify "$tmp/cases/good" >"$tmp/out/good" && echo "exit 0" >>"$tmp/out/good"
verify "$tmp/cases/changed" "$tmp/cases/web-cert/x86/Webroster.exe" "$tmp/cases/other-commit/x64" >"$tmp/verify"
[ $? -eq 1 ] || { echo "FAILED: verify-release did not answer no (exit 1) for the refused cases"; status=1; }
for case in changed web-cert other-commit; do grep -F "/cases/$case/" "$tmp/verify" >"$tmp/out/$case" || true; done

# A case, and what each line of its messages must say.
table=(
    "good          ^(.*: signature: yes .*; signed by: .*CN *= *TaskTools Test codeSigning.*; build: yes .*|exit 0)$"
    "changed       signature: no \(the program was changed after it was signed.*build: no "
    "web-cert      signature: no \(the signer's certificate is not one for code signing\).*build: yes "
    "other-commit  signature: yes .*build: no \(without its signature, not byte for byte any program of commit"
    "dirty-tree    (refused: the working tree has uncommitted changes|^ M README.md$|^Commit or stash)"
    "wrong-tag     refused: .* is tagged v$version-rc, but its programs carry version $next"
    "untagged      refused: commit .* carries no release tag"
)
for row in "${table[@]}"; do
    read -r case expected <<<"$row"
    if [ -s "$tmp/out/$case" ] && ! grep -Evq -- "$expected" "$tmp/out/$case"; then
        echo "ok: $case"
    else
        echo "FAILED: $case: expected every line to match: $expected"
        sed 's/^/    /' "$tmp/out/$case"
        status=1
    fi
done
[ "$(wc -l <"$tmp/out/good")" -eq 4 ] || { echo "FAILED: good: not one line per program"; status=1; }

# Signed, the programs stay the programs (the good row: without the signature,
# byte for byte the build); dist/ keeps its own; the release test and a run under
# Wine see no difference.
(cd "$tmp/cases/good" && sha256sum --quiet -c SHA256SUMS && cd "$tmp/dist" && sha256sum --quiet -c SHA256SUMS) ||
    status=1
if [ -z "${WINEPREFIX:-}" ]; then
    echo "skipped: the signed programs under Wine: no private Wine prefix started (scripts/test.sh starts one)"
    exit $status
fi
run=$tmp/run
for arch in x64 x86; do
    for variant in dist cases/good; do
        rm -rf "$run" && mkdir "$run" && cp "$tmp/$variant/$arch"/*.exe "$run/"
        printf 'TaskRoll.exe\r\nWebroster.exe\r\n' >"$run/names"
        (cd "$run" && wine TaskRoll.exe /file:names; echo "exit $?" && cat processes.dat && if [ -f Webroster.exe ]; then
            wine Webroster.exe; echo "exit $?"; fi) >"$tmp/$arch-${variant#*/}.out" 2>&1
    done
    cmp -s "$tmp/$arch-dist.out" "$tmp/$arch-good.out" && echo "ok: the signed $arch programs run as the unsigned" || {
        echo "FAILED: the signed $arch programs do not run as the unsigned ones do"
        status=1
    }
    cp "build/$arch/bin/taskroll_release_tests.exe" "$run/"
    (cd "$run" && wine taskroll_release_tests.exe >"$tmp/release.log" 2>&1) && echo "ok: release test of signed $arch" ||
        { cat "$tmp/release.log"; echo "FAILED: release test of the signed $arch programs"; status=1; }
done
exit $status
