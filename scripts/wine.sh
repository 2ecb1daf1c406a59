# Sourced by the scripts that run Windows programs. wine_start PREFIX boots a
# private Wine prefix (never ~/.wine) and starts a persistent wineserver,
# detached from our streams: Wine's background services inherit the standard
# streams of whatever starts them, and a shell or test runner waiting on those
# streams would hang. wine_stop ends that server and everything it runs.

wine_start() {
    export WINEPREFIX
    WINEPREFIX="$(realpath -m "$1")"
    export WINEDEBUG=-all
    # No prompts to install Mono or Gecko while the prefix boots.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LANG=C.UTF-8
    mkdir -p "$WINEPREFIX"
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    if [ ! -f "$WINEPREFIX/.booted" ]; then
        echo "Booting the Wine prefix $WINEPREFIX ..."
        timeout 600 wine wineboot -i </dev/null >/dev/null 2>&1
        timeout 120 wine wineboot -s </dev/null >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.booted"
    fi
}

wine_stop() {
    timeout 20 wineserver -k </dev/null >/dev/null 2>&1 || true
}
