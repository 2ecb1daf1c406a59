#!/usr/bin/env bash
# The decisions of scripts/i386.sh with the machine's facts made up: whether
# 32-bit programs run natively, under which emulator, or not at all, and what
# is installed, removed and registered for it. Nothing on this machine is
# probed or changed.
set -uo pipefail
. "$(dirname "$0")/../../scripts/i386.sh"

# Facts of one row, set by run_row; the fakes read them and log every action.
KERNEL="" PRIVILEGE="" BINFMT="" ENTRIES="" INSTALLED="" CANDIDATE="" BACKPORTS_CANDIDATE=""
ACTS=""
i386_fact_kernel_runs_i386() { [ "$KERNEL" = yes ]; }
i386_fact_privilege() { echo "$PRIVILEGE"; }
i386_fact_binfmt_mounted() { [ "$BINFMT" = mounted ]; }
i386_fact_entries() { local e; for e in $ENTRIES; do echo "${e%%=*}"; done; }
entry_field() { local e; for e in $ENTRIES; do [ "${e%%=*}" = "$1" ] && echo "$e" | cut -d= -f"$2"; done; }
i386_fact_entry_enabled() { [ "$(entry_field "$1" 2)" = on ]; }
i386_fact_entry_interpreter() { echo "/emu/$1"; }
i386_fact_qemu_version() {
    case "$1" in
    /usr/bin/qemu-i386) echo "$INSTALLED" ;;
    /emu/*) entry_field "${1#/emu/}" 3 ;;
    esac
}
i386_fact_codename() { echo bookworm; }
i386_fact_candidate() { [ -n "$CANDIDATE" ] && echo "$CANDIDATE"; return 0; }
i386_act_mount() { ACTS+="mount "; [ "$BINFMT" = mountable ]; }
i386_act_remove_entry() { ACTS+="remove:$1 "; }
i386_act_register() { ACTS+="register:$1 "; }
i386_act_add_backports() { ACTS+="backports "; CANDIDATE="$BACKPORTS_CANDIDATE"; }
i386_act_install() { ACTS+="install:${1:-release} "; INSTALLED="${CANDIDATE%% *}"; }

passed=0 failed=0
# run_row WHAT FORCE KERNEL PRIVILEGE BINFMT ENTRIES INSTALLED CANDIDATE BACKPORTS EXPECTED ACTIONS [RELEASED]
# ENTRIES: name=on|off=version ...; EXPECTED: what I386_HOW says, or "cannot: <part of the line>".
run_row() {
    local what="$1" got err release_acts
    KERNEL="$3" PRIVILEGE="$4" BINFMT="$5" ENTRIES="$6" INSTALLED="$7" CANDIDATE="$8" BACKPORTS_CANDIDATE="$9"
    ACTS="" I386_MODE="" I386_HOW="" I386_OWN_ENTRY=""
    err=$(mktemp)
    if TASKTOOLS_EMULATE_I386="$2" i386_setup >/dev/null 2>"$err"; then
        got="$I386_HOW"
    else
        got="cannot: $(cat "$err")"
    fi
    rm -f "$err"
    local acts="$ACTS"
    ACTS=""
    i386_release
    release_acts="$ACTS"
    if [[ "$got" == ${10}* ]] && [ "${acts% }" = "${11}" ] && [ "${release_acts% }" = "${12:-}" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s\n  said:     %s\n  expected: %s\n  did:      [%s] then [%s]\n  expected: [%s] then [%s]\n' \
            "$what" "$got" "${10}" "${acts% }" "${release_acts% }" "${11}" "${12:-}"
    fi
}

Q=/usr/bin/qemu-i386
#       what                                    force kernel priv mount     entries                  inst   candidate                 backports candidate        says                                          actions
run_row "native kernel: nothing done"           ""    yes  root   mounted   ""                       ""     ""                        ""                         "natively"                                    ""
run_row "native kernel, not even root"          ""    yes  none   none      ""                       ""     ""                        ""                         "natively"                                    ""
run_row "no 32-bit code, qemu 10 installed"     ""    no   root   mounted   ""                       10.0.2 ""                        ""                         "under qemu-i386 10.0.2: this kernel runs no" "register:$Q"
run_row "forced: registered, then taken back"   1     yes  root   mounted   ""                       10.0.2 ""                        ""                         "under qemu-i386 10.0.2: forced"              "register:$Q" "remove:qemu-i386"
run_row "binfmt_misc mounted first"             ""    no   sudo   mountable ""                       10.1.0 ""                        ""                         "under qemu-i386 10.1.0"                      "mount register:$Q"
run_row "a good registration is kept"           1     no   root   mounted   "qemu-i386=on=10.0.2"    ""     ""                        ""                         "under qemu-i386 10.0.2: forced"              ""
run_row "qemu 7.2's registration replaced"      ""    no   root   mounted   "qemu-i386=on=7.2.19"    7.2.19 "7.2+dfsg-7 "             "10.0.2+ds-2~bpo12+1 bookworm-backports" "under qemu-i386 10.0.2+ds-2~bpo12+1" "remove:qemu-i386 backports install:bookworm-backports register:$Q"
run_row "the release has qemu 10 (trixie)"      ""    no   root   mounted   ""                       ""     "10.0.2+ds-2 "            ""                         "under qemu-i386 10.0.2+ds-2"                 "install:release register:$Q"
run_row "no root, no sudo"                      ""    no   none   mounted   ""                       10.0.2 ""                        ""                         "cannot: Cannot run 32-bit programs: this kernel runs no 32-bit code, and setting up" ""
run_row "no binfmt_misc"                        ""    no   root   none      ""                       10.0.2 ""                        ""                         "cannot: Cannot run 32-bit programs: this kernel runs no 32-bit code and has no binfmt_misc" "mount"
run_row "backports unreachable"                 ""    no   root   mounted   ""                       ""     ""                        ""                         "cannot: Cannot run 32-bit programs: no qemu-user package" "backports"
run_row "only an old qemu to be had"            ""    no   root   mounted   ""                       ""     "7.2+dfsg-7 "             "7.2+dfsg-7 "              "cannot: Cannot run 32-bit programs: only qemu-user 7.2+dfsg-7" "backports"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
