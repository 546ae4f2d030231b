# The Windows stage of scripts/test: cross-builds the Windows programs with mingw-w64 (preset
# "windows") and runs them under Wine (tests/wine/run_wine_tests.sh). Needs the default preset's
# zq417-sim, so it runs after that preset is built. Sourced; defines ZQ_WINE_PACKAGES and
# zq_wine_stage, which returns non-zero when anything failed. Needs scripts/lib/common.sh.

ZQ_WINE_PACKAGES=(
    cmake ninja-build
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    libcli11-dev
    wine wine64 fonts-wine fonts-liberation
    xvfb xauth xdotool imagemagick
)

# The longest the Wine tests may take; a run that needs more has hung somewhere.
ZQ_WINE_TEST_LIMIT=${ZQ_WINE_TEST_LIMIT:-600}

# What a test run killed at its limit may have left: the prefix's wineserver with every Wine
# process attached to it, and the processes the run recorded, if they are still what it started
# (a pid may have been handed to another program since).
_zq_wine_leftovers() {
    local pid_file=build/wine-run/pids pid name
    WINEPREFIX="$PWD/build/wine-prefix" timeout 20 wineserver -k >/dev/null 2>&1 || true
    [ -f "$pid_file" ] || return 0
    while read -r pid; do
        [[ "$pid" =~ ^[0-9]+$ ]] || continue
        name=$(ps -o comm= -p "$pid" 2>/dev/null) || continue
        case "$name" in
            Xvfb | zq417-sim | wineserver* | wine* | timeout | *.exe)
                kill -KILL "$pid" 2>/dev/null || true
                ;;
        esac
    done <"$pid_file"
    return 0
}

zq_wine_stage() {
    local start=$SECONDS status
    echo "== windows"
    zq_install_missing "${ZQ_WINE_PACKAGES[@]}" || {
        echo "wine stage: the packages could not be installed"
        return 1
    }
    if ! cmake --preset windows >/dev/null || ! cmake --build --preset windows -j "$(nproc)"; then
        echo "wine stage: the Windows build failed"
        return 1
    fi
    local exe
    for exe in build/windows/app/zq417-flash.exe build/windows/app/win32/firmware-updater.exe; do
        printf '%s: %s bytes, imports %s\n' "$exe" "$(stat -c %s "$exe")" \
            "$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
    done
    # Runs under the caller's `set -e`: a failure must still reach the cleanup and the timing.
    status=0
    timeout -k 30 "$ZQ_WINE_TEST_LIMIT" tests/wine/run_wine_tests.sh || status=$?
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        echo "wine stage: the tests took longer than $ZQ_WINE_TEST_LIMIT s"
    fi
    if [ "$status" -ne 0 ]; then
        _zq_wine_leftovers
    fi
    echo "wine stage: $((SECONDS - start)) s"
    return "$status"
}
