# Shared by the scripts: the repository root, and a folder for this run's Wine prefixes that is
# removed, with every process of every prefix in it, when the script ends.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

begin_wine_run() {
    VLM_WINE_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/vlm-run.XXXXXX")
    export VLM_WINE_ROOT
    trap end_wine_run EXIT
}

end_wine_run() {
    local pid prefix
    [ -n "${VLM_WINE_ROOT:-}" ] || return 0
    for prefix in "$VLM_WINE_ROOT"/*/; do
        [ -d "$prefix" ] && end_prefix "${prefix%/}"
    done
    # Anything still running with a prefix of this run, by its environment, never by its name.
    for pid in $(grep -lz "^WINEPREFIX=$VLM_WINE_ROOT/" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$VLM_WINE_ROOT"
}

# Ends every process of the prefix $1 and removes the server folder that Wine keeps for it,
# /tmp/wine-XXXXXX/server-<device>-<inode>, which it leaves behind when the server ends (even
# `wineserver -k` makes one when no server runs). The prefix itself stays. Processes are matched
# by WINEPREFIX in their environment, never by name, which leaves other runs' Wine alone.
end_prefix() {
    local prefix=$1 pid folder
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    for pid in $(grep -lzx "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
        kill -9 "$pid" 2>/dev/null || true
    done
    for folder in /tmp/wine-*/"$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))"; do
        [ -d "$folder" ] || continue
        rm -rf "$folder"
        rmdir "$(dirname "$folder")" 2>/dev/null || true
    done
}

configure() {  # name, then extra cmake arguments
    local name=$1
    shift
    cmake -S "$repo" -B "$repo/build/$name" -G Ninja "$@" >/dev/null
}

configure_and_build() {  # name, then extra cmake arguments; with build_target set, that target only
    configure "$@" && cmake --build "$repo/build/$1" ${build_target:+--target "$build_target"}
}

windows_toolchain=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake")
