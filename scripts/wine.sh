# Sourced by the scripts that run Windows programs. wine_start PREFIX boots a
# private Wine prefix (never ~/.wine) and starts a persistent wineserver,
# detached from our streams: Wine's background services inherit the standard
# streams of whatever starts them, and a shell or test runner waiting on those
# streams would hang. wine_stop ends that server and everything it runs, and
# only when this run started it.

WINE_OWN_SERVER=""

wine_start() {
    export WINEPREFIX
    WINEPREFIX="$(realpath -m "$1")"
    export WINEDEBUG=-all
    # No prompts to install Mono or Gecko while the prefix boots.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LANG=C.UTF-8
    mkdir -p "$WINEPREFIX"
    # The server daemonizes itself once it listens, so this returns when it is
    # ready. It refuses to start while a server for the prefix runs: that one
    # belongs to another run (a second `make test` in this checkout) or was
    # left behind, and is neither used nor stopped here.
    if ! setsid wineserver -p </dev/null >/dev/null 2>&1; then
        echo "A wineserver is already running for $WINEPREFIX (another run uses this prefix, or one was left" \
            "behind); it is left alone. Wait for that run to end, or stop a leftover server with:" \
            "WINEPREFIX=$WINEPREFIX wineserver -k" >&2
        return 1
    fi
    WINE_OWN_SERVER=1
    # wineboot starts Wine's background services here, with our streams kept
    # from them; otherwise the first test would start them holding its output.
    local first=""
    if [ ! -f "$WINEPREFIX/.booted" ]; then
        echo "Booting the Wine prefix $WINEPREFIX ..."
        first="-i"
    fi
    local status=0
    timeout 600 wine wineboot $first </dev/null >/dev/null 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        echo "Wine could not boot the prefix $WINEPREFIX (wineboot exited with $status; 126 or 139: 32-bit programs" \
            "do not run here, see scripts/i386.sh)." >&2
        return $status
    fi
    touch "$WINEPREFIX/.booted"
}

wine_stop() {
    [ -n "$WINE_OWN_SERVER" ] || return 0
    timeout 20 wineserver -k </dev/null >/dev/null 2>&1 || true
    WINE_OWN_SERVER=""
}
