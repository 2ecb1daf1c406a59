# Sourced by deps.sh and by the scripts that run 32-bit Windows programs (the
# tests, the demo, the benchmark). i386_setup makes sure 32-bit x86 Linux
# programs, which the 32-bit Wine is, can run here:
#
# - where the kernel runs them itself, nothing is done;
# - where it does not (a kernel built without IA-32 emulation, or booted with it
#   switched off), i386 ELF programs are registered with binfmt_misc to qemu's
#   user-mode i386 emulator, version 10 or newer (older ones need about 50 s for
#   every Wine start), installed from the release or its backports suite;
# - with TASKTOOLS_EMULATE_I386=1 the emulator is used on any machine, and the
#   registration made for it is taken back by i386_release when the run ends.
#
# It says in one line which of these holds, or stops the command with one line
# naming what is missing and how to get it. Afterwards I386_MODE is "native"
# or "emulated" and I386_HOW says how 32-bit code runs, for the test and
# benchmark output. Each fact and action is a function of its own, so that the
# decisions can be tested with the facts made up (tests/scripts/test_i386.sh).

I386_MODE=""
I386_HOW=""
I386_OWN_ENTRY=""
I386_MIN_QEMU=10
I386_ENTRY_NAME=qemu-i386
I386_BINFMT=/proc/sys/fs/binfmt_misc
# The i386 ELF header as qemu's own binfmt script registers it: class 32-bit,
# little-endian, executable or shared object, machine 3 (i386).
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The same magic as binfmt_misc lists it in an entry.
I386_MAGIC_HEX=7f454c4601010100000000000000000002000300

i386_sudo() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo -n "$@"
    fi
}

# root, sudo (without a password prompt: the runs are unattended) or none.
i386_fact_privilege() {
    if [ "$(id -u)" -eq 0 ]; then
        echo root
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        echo sudo
    else
        echo none
    fi
}

# The binfmt_misc entries that take i386 ELF programs, enabled or not.
i386_fact_entries() {
    local entry
    [ -f "$I386_BINFMT/status" ] || return 0
    for entry in "$I386_BINFMT"/*; do
        case "${entry##*/}" in register | status) continue ;; esac
        grep -q "^magic $I386_MAGIC_HEX" "$entry" 2>/dev/null && echo "${entry##*/}"
    done
    return 0
}

i386_fact_entry_enabled() { head -n 1 "$I386_BINFMT/$1" 2>/dev/null | grep -qx enabled; }
i386_fact_entry_interpreter() { awk '$1 == "interpreter" { print $2 }' "$I386_BINFMT/$1" 2>/dev/null; }

# The version an emulator program gives, e.g. 10.0.2; nothing when it gives none.
i386_fact_qemu_version() {
    [ -x "$1" ] || return 0
    "$1" --version 2>/dev/null | sed -n '1s/.* version \([0-9][0-9.]*\).*/\1/p'
}

# Runs a 32-bit program of 96 bytes that only exits with 42; a kernel that runs
# no 32-bit code refuses it (Exec format error) or kills it. The entries that
# would hand it to an emulator are switched off for the moment of the probe, so
# that the kernel itself answers.
i386_fact_kernel_runs_i386() {
    local probe status=1 entry off=()
    probe=$(mktemp)
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >"$probe"
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
    printf '\270\001\000\000\000\273\052\000\000\000\315\200' >>"$probe"
    chmod 700 "$probe"
    for entry in $(i386_fact_entries); do
        if i386_fact_entry_enabled "$entry" && i386_sudo sh -c "echo 0 >'$I386_BINFMT/$entry'" 2>/dev/null; then
            off+=("$entry")
        fi
    done
    "$probe" >/dev/null 2>&1 || [ $? -ne 42 ] || status=0
    for entry in "${off[@]}"; do
        i386_sudo sh -c "echo 1 >'$I386_BINFMT/$entry'" 2>/dev/null || true
    done
    rm -f "$probe"
    return $status
}

i386_fact_binfmt_mounted() { [ -f "$I386_BINFMT/register" ]; }

# The newest qemu-user version apt would install from the configured suites,
# with the suite to ask for: "VERSION SUITE" (SUITE empty for the default).
i386_fact_candidate() {
    apt-cache policy qemu-user 2>/dev/null | awk -v backports="$1-backports" '
        /^ +Version table:/ { table = 1; next }
        table { line = $0; sub(/^ *\*\*\* /, "", line); n = split(line, f, " ") }
        table && n == 2 && f[2] ~ /^-?[0-9]+$/ && f[1] !~ /^[0-9]+$/ { version = f[1]; next }
        table && version != "" && $0 ~ " " backports "/" { if (best == "") { best = version; suite = backports } }
        table && version != "" && $0 !~ "backports" && $0 ~ /http|file:/ { if (best == "") { best = version; suite = "" } }
        END { if (best != "") print best, suite }' |
        sed 's/^[0-9]*://'
}

i386_fact_codename() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

i386_act_mount() { i386_sudo mount -t binfmt_misc binfmt_misc "$I386_BINFMT" 2>/dev/null; }

i386_act_remove_entry() { i386_sudo sh -c "echo -1 >'$I386_BINFMT/$1'" 2>/dev/null; }

i386_act_register() {
    local line=":$I386_ENTRY_NAME:M::$I386_MAGIC:$I386_MASK:$1:F"
    i386_sudo sh -c "printf '%s' '$line' >'$I386_BINFMT/register'" 2>/dev/null
}

# The mirror and keyring of the configured source for the release's own suite,
# as "URI KEYRING" (KEYRING may be empty): a backports suite is taken from the
# same mirror.
i386_fact_release_source() {
    local codename="$1" file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v suite="$codename" '
            function flush() { if (ok && uri != "") { print uri, key; found = 1; exit } ok = 0; uri = ""; key = "" }
            /^[[:space:]]*$/ { flush(); next }
            /^URIs:/ { uri = $2 }
            /^Signed-By:/ { key = $2 }
            /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) ok = 1 }
            END { if (!found) flush() }' "$file"
    done | head -n 1 | grep . && return 0
    [ -f /etc/apt/sources.list ] &&
        awk -v suite="$codename" '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++;
            if ($(i + 1) == suite) { print $i; exit } }' /etc/apt/sources.list | head -n 1 | grep .
}

# Adds the release's backports suite in a sources file of its own, from the
# mirror the release comes from, unless a configured source names it already;
# then updates the package lists.
i386_act_add_backports() {
    local codename="$1" file=/etc/apt/sources.list.d/tasktools-backports.sources source uri key
    if ! grep -rqsE "(^|[[:space:]])$codename-backports([[:space:]]|$)" /etc/apt/sources.list /etc/apt/sources.list.d/; then
        source=$(i386_fact_release_source "$codename") || return 1
        uri="${source%% *}" key="${source#* }"
        [ "$key" = "$source" ] && key=""
        { printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n' "$uri" "$codename"
          [ -z "$key" ] || printf 'Signed-By: %s\n' "$key"; } | i386_sudo tee "$file" >/dev/null || return 1
    fi
    i386_sudo apt-get update -q >/dev/null 2>&1 || i386_sudo apt-get update -q >/dev/null 2>&1
}

i386_act_install() {
    local suite="$1"
    DEBIAN_FRONTEND=noninteractive i386_sudo apt-get install -y -q --no-install-recommends \
        -o DPkg::Lock::Timeout=600 ${suite:+-t "$suite"} qemu-user
}

i386_major() { echo "${1%%.*}"; }

i386_cannot() {
    echo "Cannot run 32-bit programs: $*" >&2
    return 1
}

i386_setup() {
    local forced="" reason entry interpreter version codename candidate suite
    [ "${TASKTOOLS_EMULATE_I386:-}" = 1 ] && forced=1
    if [ -z "$forced" ] && i386_fact_kernel_runs_i386; then
        I386_MODE=native
        I386_HOW="natively"
        return 0
    fi
    if [ -n "$forced" ]; then
        reason="forced"
        [ -n "${I386_QUIET:-}" ] || echo "TASKTOOLS_EMULATE_I386=1: 32-bit programs (the 32-bit Wine, the x86 build) will run under qemu's i386 emulator, registered for this run only."
    else
        reason="this kernel runs no 32-bit code"
        [ -n "${I386_QUIET:-}" ] || echo "This kernel runs no 32-bit x86 code: 32-bit programs (the 32-bit Wine, the x86 build) will run under qemu's i386 emulator."
    fi

    if [ "$(i386_fact_privilege)" = none ]; then
        i386_cannot "this kernel runs no 32-bit code, and setting up qemu's i386 emulator needs root; run as root or as a user with sudo."
        return 1
    fi
    if ! i386_fact_binfmt_mounted && ! i386_act_mount; then
        i386_cannot "this kernel runs no 32-bit code and has no binfmt_misc to hand them to an emulator; boot a kernel with IA-32 emulation (or without ia32_emulation=0 on its command line) or with CONFIG_BINFMT_MISC."
        return 1
    fi

    # An entry already there is kept when its emulator is new enough, and put
    # aside (removed) when it is older.
    for entry in $(i386_fact_entries); do
        interpreter=$(i386_fact_entry_interpreter "$entry")
        version=$(i386_fact_qemu_version "$interpreter")
        if i386_fact_entry_enabled "$entry" && [ -n "$version" ] && [ "$(i386_major "$version")" -ge $I386_MIN_QEMU ]; then
            I386_MODE=emulated
            I386_HOW="under qemu-i386 $version: $reason"
            return 0
        fi
        echo "Removing the i386 emulator registration '$entry' ($interpreter${version:+, qemu $version}): it is switched off, or its emulator is older than qemu $I386_MIN_QEMU and too slow to start Wine."
        i386_act_remove_entry "$entry" || {
            i386_cannot "the i386 registration '$entry' of an old emulator cannot be removed."
            return 1
        }
    done

    version=$(i386_fact_qemu_version /usr/bin/qemu-i386)
    if [ -z "$version" ] || [ "$(i386_major "$version")" -lt $I386_MIN_QEMU ]; then
        codename=$(i386_fact_codename)
        candidate=$(i386_fact_candidate "$codename")
        if [ -z "$candidate" ] || [ "$(i386_major "${candidate%% *}")" -lt $I386_MIN_QEMU ]; then
            echo "Adding the $codename-backports package suite for qemu-user $I386_MIN_QEMU or newer ..."
            i386_act_add_backports "$codename"
            candidate=$(i386_fact_candidate "$codename")
        fi
        if [ -z "$candidate" ]; then
            i386_cannot "no qemu-user package can be found (is $codename-backports reachable? run 'apt-get update' once the mirror answers)."
            return 1
        fi
        if [ "$(i386_major "${candidate%% *}")" -lt $I386_MIN_QEMU ]; then
            i386_cannot "only qemu-user ${candidate%% *} can be installed, and 32-bit Wine needs qemu $I386_MIN_QEMU or newer (older ones take about 50 s for every program start); add a suite that has it ($codename-backports)."
            return 1
        fi
        suite="${candidate#* }"
        [ "$suite" = "${candidate%% *}" ] && suite=""
        echo "Installing qemu-user ${candidate%% *}${suite:+ from $suite} ..."
        i386_act_install "$suite" || {
            i386_cannot "qemu-user ${candidate%% *} did not install (see apt-get's output above)."
            return 1
        }
        version=$(i386_fact_qemu_version /usr/bin/qemu-i386)
    fi
    if ! i386_act_register /usr/bin/qemu-i386; then
        i386_cannot "i386 programs cannot be registered to /usr/bin/qemu-i386 with binfmt_misc."
        return 1
    fi
    [ -n "$forced" ] && I386_OWN_ENTRY="$I386_ENTRY_NAME"
    I386_MODE=emulated
    I386_HOW="under qemu-i386 $version: $reason"
    return 0
}

# Takes back the registration that a forced run made; one the machine needs
# stays (it is gone at the next reboot anyway).
i386_release() {
    [ -n "$I386_OWN_ENTRY" ] || return 0
    i386_act_remove_entry "$I386_OWN_ENTRY" || true
    I386_OWN_ENTRY=""
}
