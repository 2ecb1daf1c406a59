# Sourced by the scripts that build. configure_tree TREE ARCH [CMAKE OPTION...]
# configures the build tree TREE: ARCH x64 or x86 cross-builds the programs
# with mingw-w64 (a Release build), native builds the core's tests with the
# host clang under its sanitizers (tests/core). Configured every time (quick):
# a tree made before a source directory or test file existed then learns of it.
configure_tree() {
    local tree="$1" arch="$2"
    shift 2
    local source=. settings=(-DCMAKE_BUILD_TYPE=Release)
    case "$arch" in
    x64) settings+=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake) ;;
    x86) settings+=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake) ;;
    native)
        source=tests/core
        settings=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
        ;;
    *)
        echo "configure_tree: unknown architecture $arch" >&2
        return 1
        ;;
    esac
    cmake --no-warn-unused-cli -S "$source" -B "$tree" "${settings[@]}" "$@" >/dev/null
}
