# shellcheck shell=bash
# Builds the packages a technician installs into dist/ (scripts/package), and the package stage of
# scripts/test, which checks them as a user would meet them: lintian on the Debian package, then
# installed with apt, used (a Download against the installed zq417-sim, the manual page, the
# completion), removed again without leftovers; the Windows zip unpacked and run under Wine.
# Sourced; needs scripts/lib/common.sh. The zip reuses the "windows" build and, in the test, the
# Wine prefix of scripts/lib/wine_stage.sh when it exists.

ZQ_DEB_PACKAGES=(cmake ninja-build g++ qt6-base-dev libcli11-dev help2man dpkg-dev file gzip)
ZQ_ZIP_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    libcli11-dev)
ZQ_PACKAGE_TEST_PACKAGES=(lintian man-db wine wine64)

# The targets the package holds; the rest of the release build (benchmarks, screenshots) is not
# shipped and not built.
ZQ_PACKAGE_TARGETS=(firmware-updater zq417-flash zq417-sim packaging-files)

# Builds what the Debian package holds (scripts/test starts this early, beside other work).
zq_package_build() {
    cmake --preset release >/dev/null || return 1
    cmake --build --preset release -j "$(nproc)" --target "${ZQ_PACKAGE_TARGETS[@]}"
}

# Prints the path of the .deb it made from the release build, or from the build directory given
# (the tests' build: the same compiler flags, its debug symbols stripped by CPack), which is
# packaged as it stands, without compiling anything a second time.
zq_package_deb() {
    local build=${1:-}
    if [ -z "$build" ]; then
        build=build/release
        zq_package_build >&2 || return 1
    fi
    local deb
    deb=$(cd "$build" && cpack -G DEB 2>&1 | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
    [ -f "$deb" ] || { echo "package: cpack made no .deb" >&2; return 1; }
    echo "$deb"
}

# Prints the path of the .zip it made.
zq_package_zip() {
    cmake --preset windows >/dev/null || return 1
    cmake --build --preset windows -j "$(nproc)" --target zq417-flash firmware-updater >&2 ||
        return 1
    local zip
    zip=$(cd build/windows && cpack -G ZIP 2>&1 | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
    [ -f "$zip" ] || { echo "package: cpack made no .zip" >&2; return 1; }
    echo "$zip"
}

# apt-get as root (CI runs as root; a developer's machine goes through sudo).
_zq_apt() {
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"
}

# A Download with the installed programs, as scripts/run does it with the built ones.
_zq_installed_download() {
    local log device status=0 sim
    log=$(mktemp)
    /usr/bin/zq417-sim --mode download --exit-after-operations 1 >"$log" &
    sim=$!
    for _ in $(seq 100); do
        device=$(sed -n '1s/.* on \(\/dev\/[^ ]*\).*/\1/p' "$log")
        [ -n "$device" ] && break
        sleep 0.05
    done
    if [ -z "$device" ]; then
        echo "package: the installed zq417-sim did not start"
        status=1
    else
        timeout 60 /usr/bin/zq417-flash download --port "$device" || status=$?
    fi
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
    rm -f "$log"
    return "$status"
}

# Files of the package still there after it was purged, and directories it made that nothing
# else owns.
_zq_package_leftovers() {
    local deb=$1 path kind
    while read -r kind path; do
        path=${path#.}
        [ -e "$path" ] || [ -L "$path" ] || continue
        if [ "$kind" = d ]; then
            dpkg-query -S "$path" >/dev/null 2>&1 || echo "$path"
        else
            echo "$path"
        fi
    done < <(dpkg-deb -c "$deb" | awk '{ print substr($1, 1, 1), $6 }')
}

_zq_package_deb_checks() {
    local deb=$1 failed=0 lint
    echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { printf "  %8s %s\n", $3, $6 }'

    lint=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges')
    echo "lintian: ${lint:-clean}"
    grep -q '^E:' <<<"$lint" && { echo "package: lintian reports errors"; failed=1; }

    # Minimal images may keep dpkg from unpacking manual pages; the package's own are let in
    # for this install only, without touching the machine's settings.
    local dpkg_options=()
    if grep -qsE '^\s*path-exclude[= ]+/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
        echo "dpkg excludes /usr/share/man here; the package's pages are included for this test"
        dpkg_options=(-o 'DPkg::Options::=--path-include=/usr/share/man/man1/zq417-*'
            -o 'DPkg::Options::=--path-include=/usr/share/man/man1/firmware-updater.1.gz')
    fi
    # A copy left by an earlier run would make apt keep it instead of this build.
    local apt_log
    apt_log=$(mktemp)
    if dpkg-query -W firmware-updater >/dev/null 2>&1; then
        _zq_apt purge firmware-updater >"$apt_log" 2>&1
    fi
    if ! _zq_apt install --no-install-recommends "${dpkg_options[@]}" "$(realpath "$deb")" \
        >"$apt_log" 2>&1; then
        echo "package: apt could not install it:"
        tail -20 "$apt_log"
        rm -f "$apt_log"
        return 1
    fi

    /usr/bin/zq417-flash --version || { echo "package: zq417-flash --version failed"; failed=1; }
    _zq_installed_download || { echo "package: the Download with the installed programs failed"; failed=1; }
    local page
    page=$(man -w zq417-flash 2>&1)
    if [ "$page" = /usr/share/man/man1/zq417-flash.1.gz ] &&
        MANWIDTH=80 MANPAGER=cat man zq417-flash 2>/dev/null | grep -q 'EXIT STATUS'; then
        echo "man -w zq417-flash: $page"
    else
        echo "package: man does not find the page of zq417-flash ($page)"
        failed=1
    fi
    bash -c 'source /usr/share/bash-completion/completions/zq417-flash && complete -p zq417-flash' ||
        { echo "package: the completion does not load"; failed=1; }
    # The station's unit as systemd reads it, the example settings standing in for an instance's.
    # A line it cannot parse is only warned about, so a clean unit is one it says nothing of.
    local verified
    if [ ! -f '/lib/systemd/system/zq417-station@.service' ] ||
        [ ! -f /etc/zq417-station/example.conf ]; then
        echo "package: the station's unit or its example settings are not installed"
        failed=1
    elif ! command -v systemd-analyze >/dev/null; then
        echo "systemd-analyze is not here: the station's unit is not verified"
    elif verified=$(systemd-analyze verify zq417-station@example.service 2>&1) &&
        [ -z "$verified" ]; then
        echo "systemd-analyze verify zq417-station@example.service: clean"
    else
        echo "package: systemd-analyze finds fault with the station's unit:"
        sed 's/^/  /' <<<"$verified"
        failed=1
    fi

    if ! _zq_apt purge firmware-updater >"$apt_log" 2>&1; then
        echo "package: apt could not remove it:"
        tail -20 "$apt_log"
        failed=1
    fi
    rm -f "$apt_log"
    local left
    left=$(_zq_package_leftovers "$deb")
    if [ -n "$left" ]; then
        echo "package: left behind after removal:"
        sed 's/^/  /' <<<"$left"
        failed=1
    else
        echo "removed: none of its files left"
    fi
    return "$failed"
}

_zq_package_zip_checks() {
    local zip failed=0 dir unpacked
    zip=$(realpath "$1")
    echo "$(basename "$zip"): $(stat -c %s "$zip") bytes"
    unpacked=$(mktemp -d)
    (cd "$unpacked" && cmake -E tar xf "$zip") || { rm -rf "$unpacked"; echo "package: the zip does not unpack"; return 1; }
    dir=$unpacked/$(basename "$zip" .zip)
    local name
    for name in firmware-updater.exe zq417-flash.exe README.txt LICENSE.txt; do
        [ -f "$dir/$name" ] || { echo "package: $name is not in the zip"; failed=1; }
    done
    find "$dir" -type f -printf '  %8s %P\n' | sort -k2
    local lines crlf
    lines=$(wc -l <"$dir/README.txt")
    crlf=$(grep -c $'\r$' "$dir/README.txt")
    if [ "$lines" -eq 0 ] || [ "$lines" != "$crlf" ]; then
        echo "package: README.txt has $crlf of $lines lines ending in CRLF"
        failed=1
    fi

    # The test's Wine prefix when the Windows stage made one. A wineserver started on demand
    # would keep the pipe of the first program's output open, so it is started first, and the
    # output goes to a file.
    export WINEPREFIX=${ZQ_WINE_PREFIX:-$PWD/build/wine-prefix} WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    (unset DISPLAY WAYLAND_DISPLAY; wineserver -p10 >/dev/null 2>&1)
    if (unset DISPLAY WAYLAND_DISPLAY; timeout -k 5 180 wine "$dir/zq417-flash.exe" --version \
        >"$unpacked/version" 2>"$unpacked/wine.log") &&
        tr -d '\r' <"$unpacked/version" |
        grep -qx "zq417-flash (.*) $(sed -n 's/^project(.* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"; then
        echo "wine zq417-flash.exe --version: $(tr -d '\r' <"$unpacked/version")"
    else
        echo "package: zq417-flash.exe --version failed under Wine: $(cat "$unpacked/version")"
        tail -5 "$unpacked/wine.log"
        failed=1
    fi
    timeout 20 wineserver -k >/dev/null 2>&1
    rm -rf "$unpacked"
    return "$failed"
}

zq_package_stage() {
    local start=$SECONDS failed=0 deb zip
    echo "== package"
    zq_install_missing "${ZQ_DEB_PACKAGES[@]}" "${ZQ_ZIP_PACKAGES[@]}" \
        "${ZQ_PACKAGE_TEST_PACKAGES[@]}" || { echo "package: the packages could not be installed"; return 1; }
    if deb=$(zq_package_deb build/default); then
        _zq_package_deb_checks "$deb" || failed=1
    else
        echo "package: the Debian package was not built"
        failed=1
    fi
    if zip=$(zq_package_zip); then
        _zq_package_zip_checks "$zip" || failed=1
    else
        echo "package: the Windows zip was not built"
        failed=1
    fi
    echo "package stage: $((SECONDS - start)) s"
    return "$failed"
}
