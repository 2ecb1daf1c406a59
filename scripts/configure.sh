# Sourced by the scripts that build. configure_tree TREE ARCH [-S SOURCE]
# [CMAKE OPTION...] configures the build tree TREE: ARCH x64 or x86
# cross-builds with mingw-w64 (a Release build) the project in SOURCE (default:
# the repository; bench/ for the benchmark's programs, or an exported commit),
# native builds the core's tests with the host clang under its sanitizers
# (tests/core). Configured every time (quick): a tree made before a source
# directory or test file existed then learns of it.
configure_tree() {
    local tree="$1" arch="$2"
    shift 2
    local source=. toolchains="$PWD/cmake" settings=(-DCMAKE_BUILD_TYPE=Release)
    if [ "${1:-}" = "-S" ]; then
        source="$2"
        shift 2
    fi
    case "$arch" in
    x64) settings+=(-DCMAKE_TOOLCHAIN_FILE="$toolchains/toolchain-x86_64.cmake") ;;
    x86) settings+=(-DCMAKE_TOOLCHAIN_FILE="$toolchains/toolchain-i686.cmake") ;;
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
