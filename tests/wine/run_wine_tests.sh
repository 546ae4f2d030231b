#!/usr/bin/env bash
# The Windows programs under Wine, in a Wine prefix of their own made afresh for every run:
#   - zq417-flash.exe against zq417-sim, whose pseudo-terminal Wine serves as COM1;
#   - firmware-updater.exe under Xvfb, driven with xdotool and read back with readbox.exe.
# Outcomes and bytes are checked, never timing: under load Wine's port timeouts stretch, and on a
# pseudo-terminal it neither paces writes nor reports 14400 baud back.
#
# Needs the windows preset built (build/windows) and zq417-sim from the default preset. Every wait
# is bounded and every process it starts is ended by its pid. Prints one line per case and a
# summary; the exit status is 0 only when every case passed.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WINDOWS_BUILD=${ZQ_WINDOWS_BUILD:-$ROOT/build/windows}
SIM=${ZQ_SIM:-$ROOT/build/default/app/zq417-sim}
WORK=${ZQ_WINE_WORK:-$ROOT/build/wine-run}
ARTIFACTS=${ZQ_WINE_ARTIFACTS:-$ROOT/build/wine-artifacts}
export WINEPREFIX=${ZQ_WINE_PREFIX:-$ROOT/build/wine-prefix}
export WINEARCH=win64 WINEDEBUG=-all
# Without these, a new prefix offers to download Mono and Gecko, and waits for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

FLASH=$WINDOWS_BUILD/app/zq417-flash.exe
UPDATER=$WINDOWS_BUILD/app/win32/firmware-updater.exe
READBOX=$WINDOWS_BUILD/tools/wine/readbox.exe
DUMPRES=$WINDOWS_BUILD/tools/wine/dumpres.exe
# Wine's COM1 is this path for good; each case's zq417-sim points it at its own pseudo-terminal,
# so the port mapping is written once and wineserver never has to learn a new one.
PORT_LINK=$WORK/com1
# No COM number is sure to be free under Wine, which gives the machine's /dev/ttyS* the numbers
# the key leaves, and keeps a numbered port even when its device is gone; a name of its own is.
ABSENT_PORT='\\.\ZQ417-ABSENT'
# Makes Wine's purges treat the pseudo-terminal as a line (tools/wine/pty_line.cpp);
# ZQ_WINE_RAW_PTY=1 leaves Wine as it is, to watch Download lose the image's tail under load.
PTY_LINE=$WORK/libzqptyline.so
# Every process started in the background, one pid a line, so that whoever runs this script can
# end what a killed run left behind.
PID_FILE=$WORK/pids

TITLE="Firmware Updater"
PROGRESS_BAR=1002
DOWNLOAD_BUTTON=1032
UPDATE_BUTTON=1033
EXIT_BUTTON=4
PORT_COMBO=1067

DOWNLOAD_SUCCESS=$'DownLoad success!\nYou can run application right now.\nAfter turn off power, you must set hardware system to update mode!'
UPDATE_SUCCESS=$'Update success!\nPlease reset hardware system to run new firmware!'
BOARD_IN_UPDATE_MODE=$'Error occurs before download operation!\nHardware system is in update mode.\nPlease set it to download mode.\nThen try again!'
UPDATE_NOT_ANSWERED=$'Error occurs during update operation!\n\nPlease check the followings:\n1.The power is on.\n2.RS232 cable has been correctly connected.\n3.Current baudrate has been correctly selected.\n4.Hardware system is in update mode.\n5.There is good firmware in ZQ417.\n6.Hardware is good.\nThen try again!'
# The line after each failure box that says why.
WRONG_MODE_REASON='the board answered the handshake, so it runs firmware (update mode): its own, or the image a Download loaded before its update phase failed; use update, or flash, which chooses by the board'"'"'s mode'
SILENT_REASON='the board never answered the handshake (60 tries): probably not powered, not connected, or in download mode (use download, or flash)'
EEPROM_REASON='the board reported status 0x0080 after programming (bit 7: programming failed)'
# The built-in image's SHA-256, as the system's own hash (bcrypt on Windows) gives it.
IMAGE_SHA256=cc956afc329650fb6a7efa3b9e34e849536de0905552a68273a79924b6ede108
EEPROM_FAIL=$'EEPROM program fail!\nPlease check the followings:\n1. ZQ417 and EEPROM correctly connect.\n2. EEPROM is not be set to write protect mode.\n3. ZQ417 and EEPROM are good!'
CANNOT_OPEN_PORT=$'Can not open selected COM port!\nPlease check that no application is using this port!'

# --- processes -----------------------------------------------------------------------------------

WINESERVER_PID=""
XVFB_PID=""
SIM_PID=""
SIM_LOG=""
UPDATER_PID=""

remember_pid() {
    echo "$1" >>"$PID_FILE"
}

# TERM, then KILL if the process is still there after five seconds.
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    local i
    for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# Waits up to SECONDS for a background child to end; its exit status, or 124 when it did not.
wait_pid() {
    local pid=$1 seconds=$2 i
    for ((i = 0; i < seconds * 10; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            return $?
        fi
        sleep 0.1
    done
    return 124
}

wine_run() {
    local seconds=$1 preload=$PTY_LINE
    shift
    [ "${ZQ_WINE_RAW_PTY:-0}" = 1 ] && preload=""
    LD_PRELOAD=$preload timeout -k 5 "$seconds" wine "$@"
}

# Wine's socket for this prefix: a directory named after the prefix's device and inode, under
# /tmp/.wine-UID upstream, under a random /tmp directory that the prefix names in Debian's build.
wineserver_ready() {
    local dev ino server
    read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
    server=$(printf 'server-%x-%x' "$dev" "$ino")
    [ -S "/tmp/.wine-$(id -u)/$server/socket" ] && return 0
    [ -f "$WINEPREFIX/wineserver" ] && [ -S "/tmp/$(cat "$WINEPREFIX/wineserver")/$server/socket" ]
}

# Started by hand, with its output sent away: a server Wine starts on demand keeps the stdout of
# the first program that needed it, and whoever reads that pipe would wait for the server to end.
start_wineserver() {
    wineserver -f -p >/dev/null 2>&1 &
    WINESERVER_PID=$!
    remember_pid "$WINESERVER_PID"
    local i
    for ((i = 0; i < 100; i++)); do
        wineserver_ready && return 0
        sleep 0.1
    done
    echo "wineserver did not start" >&2
    return 1
}

stop_wineserver() {
    timeout 20 wineserver -k >/dev/null 2>&1
    stop_pid "$WINESERVER_PID"
    WINESERVER_PID=""
}

start_display() {
    local i
    # Gone before Xvfb starts, so that the number read below is this server's.
    rm -f "$WORK/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
    XVFB_PID=$!
    remember_pid "$XVFB_PID"
    for ((i = 0; i < 100; i++)); do
        # Xvfb ends the number with a line break once it accepts connections.
        if grep -q '^[0-9]\+$' "$WORK/display" 2>/dev/null; then
            DISPLAY=":$(head -n1 "$WORK/display")"
            export DISPLAY
            return 0
        fi
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}

stop_display() {
    stop_pid "$XVFB_PID"
    XVFB_PID=""
    unset DISPLAY
}

# Waits up to SECONDS for a line matching the fixed string to appear in FILE.
wait_for_line() {
    local file=$1 text=$2 seconds=$3 i
    for ((i = 0; i < seconds * 10; i++)); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# A board on a pseudo-terminal that PORT_LINK leads to, logging to WORK/sim-NAME.log.
start_sim() {
    local name=$1
    shift
    SIM_LOG=$WORK/sim-$name.log
    "$SIM" --link "$PORT_LINK" "$@" >"$SIM_LOG" 2>&1 &
    SIM_PID=$!
    remember_pid "$SIM_PID"
    if ! wait_for_line "$SIM_LOG" "links to it" 10; then
        problem "zq417-sim did not start: $(cat "$SIM_LOG")"
        return 1
    fi
}

# Once the host has let go, so that the log holds the whole session.
stop_sim() {
    wait_for_line "$SIM_LOG" "host closed the port" 5
    stop_pid "$SIM_PID"
    SIM_PID=""
}

cleanup() {
    stop_pid "$SIM_PID"
    stop_wineserver
    stop_display
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# --- checks ----------------------------------------------------------------------------------------

CASE_PROBLEMS=()
PASSED=0
FAILED=0

problem() {
    CASE_PROBLEMS+=("$*")
}

expect_equal() {
    local what=$1 got=$2 expected=$3
    if [ "$got" != "$expected" ]; then
        problem "$what: expected"$'\n'"$expected"$'\n'"--- got"$'\n'"$got"
    fi
}

# The board's own account of the session, line for line as zq417-sim logs it.
expect_sim_said() {
    local text
    for text in "$@"; do
        grep -qF -- "$text" "$SIM_LOG" || problem "zq417-sim never said: $text"
    done
}

expect_sim_silent_on() {
    local text
    for text in "$@"; do
        if grep -qF -- "$text" "$SIM_LOG"; then
            problem "zq417-sim said what it should not have: $(grep -F -- "$text" "$SIM_LOG")"
        fi
    done
}

run_case() {
    local name=$1 start=$SECONDS
    CASE_PROBLEMS=()
    "$name"
    if [ ${#CASE_PROBLEMS[@]} -eq 0 ]; then
        PASSED=$((PASSED + 1))
        printf 'PASS %-28s %3d s\n' "$name" $((SECONDS - start))
    else
        FAILED=$((FAILED + 1))
        printf 'FAIL %-28s %3d s\n' "$name" $((SECONDS - start))
        local p
        for p in "${CASE_PROBLEMS[@]}"; do
            printf '%s\n' "$p" | sed 's/^/     /'
        done
        echo "     (outputs, wire traces and the board's log: $WORK)"
    fi
}

# zq417-flash.exe with its outputs in WORK/NAME.out and .err, carriage returns removed.
FLASH_STATUS=0
flash() {
    local name=$1 try
    shift
    for try in 1 2; do
        wine_run 90 "$FLASH" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
        FLASH_STATUS=$?
        # On a busy machine Wine now and then ends a program before it has run, without a word:
        # such a run is made once more. A program that really fails silently fails twice.
        if [ "$try" -eq 2 ] || [ "$FLASH_STATUS" -eq 0 ] || [ -s "$WORK/$name.out" ] ||
            [ -s "$WORK/$name.err" ]; then
            break
        fi
        echo "     $name: ended with $FLASH_STATUS before saying anything; run once more"
    done
    sed -i 's/\r$//' "$WORK/$name.out" "$WORK/$name.err"
}

# The lines of a --trace run that are not trace lines: the boxes' texts and what follows them.
untraced() {
    grep -vE '^ *[0-9]+\.[0-9]{3} ms  ' "$1"
}

readbox() {
    wine_run 90 "$READBOX" "$@" | tr -d '\r'
}

windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}

# --- the prefix --------------------------------------------------------------------------------

make_prefix() {
    # The old prefix's server directory goes with it.
    if [ -f "$WINEPREFIX/wineserver" ]; then
        local old
        old=$(cat "$WINEPREFIX/wineserver")
        [[ "$old" =~ ^wine-[A-Za-z0-9]+$ ]] && rm -rf "/tmp/$old"
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    start_wineserver || return 1
    wine_run 180 wineboot -i >"$WORK/wineboot.log" 2>&1 || {
        echo "wineboot failed: $(tail -5 "$WORK/wineboot.log")" >&2
        return 1
    }
    # Ports: Wine writes its dosdevices links from this key when it starts, over any link put
    # there by hand. X11 Driver: Wine draws the frames itself, so there is no window manager
    # to run and windows take the focus xdotool gives them.
    cat >"$WORK/setup.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM1"="$PORT_LINK"
"COM7"="$PORT_LINK"

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"
EOF
    wine_run 60 regedit /S "$(windows_path "$WORK/setup.reg")" >/dev/null 2>&1 || {
        echo "regedit failed" >&2
        return 1
    }
    # The port mapping is read when the server's devices start.
    stop_wineserver
}

# --- cases without a display ----------------------------------------------------------------------

# The programs must start on a bare Windows: only the system's own DLLs.
windows_imports() {
    local exe dll
    for exe in "$FLASH" "$UPDATER"; do
        while read -r dll; do
            case "${dll,,}" in
                kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | winmm.dll | advapi32.dll | bcrypt.dll | \
                    setupapi.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*) ;;
                *) problem "$(basename "$exe") imports $dll, which Windows does not have" ;;
            esac
        done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
    done
}

dialog_template() {
    local dump
    dump=$(wine_run 60 "$DUMPRES" "$(windows_path "$UPDATER")" 1 | tr -d '\r')
    expect_equal "template and version record of firmware-updater.exe" "$dump" \
        "$(grep -v '^#' "$ROOT/tests/wine/updater_template.expected")"
}

# The whole road: 60 unanswered Syncs, the image to the loader, then the update phase through
# the freshly started firmware.
flash_download() {
    start_sim download --mode download || return
    flash download download --quiet --port COM1 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 0
    expect_equal "standard output" "$(cat "$WORK/download.out")" "$DOWNLOAD_SUCCESS"
    expect_equal "standard error besides the trace" "$(untraced "$WORK/download.err")" ""
    expect_equal "Syncs sent" "$(grep -c -- '-> AA 0D 00 00 00 00$' "$WORK/download.err")" 61
    expect_sim_said \
        "loader: 360 bytes ignored, then wake bytes and LoaderCommand for 5696 bytes" \
        "loader: 5696 image bytes received, image started" \
        "Sync #1: answered with Ack and Sync" \
        "TransferFirmware for 5728 bytes" \
        "Data: 5728 bytes announced" \
        "Data: 5728 bytes received, acknowledged, EEPROM programmed, status 0x0000" \
        "Query 0xF2: value 0x0000"
}

flash_update() {
    start_sim update --mode update || return
    flash update update --quiet --port COM1 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 0
    expect_equal "standard output" "$(cat "$WORK/update.out")" "$UPDATE_SUCCESS"
    expect_equal "standard error besides the trace" "$(untraced "$WORK/update.err")" ""
    expect_sim_said "Sync #1: answered with Ack and Sync" "TransferFirmware for 5728 bytes" \
        "Data: 5728 bytes received, acknowledged, EEPROM programmed, status 0x0000"
}

# Download with the board in update mode: the probe's answer stops it before anything is sent.
flash_board_in_update_mode() {
    start_sim wrong-mode --mode update || return
    flash wrong-mode download --quiet --port COM1 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 5
    expect_equal "standard error besides the trace" "$(untraced "$WORK/wrong-mode.err")" \
        "$BOARD_IN_UPDATE_MODE"$'\n'"$WRONG_MODE_REASON"
    expect_equal "standard output" "$(cat "$WORK/wrong-mode.out")" ""
    expect_sim_said "Sync #1: answered with Ack and Sync"
    expect_sim_silent_on "loader:" "TransferFirmware" "Data:"
}

# A silent board may simply be off: under update it fails like any board that does not answer.
flash_silent_board() {
    start_sim silent --mode update --silent || return
    flash silent update --quiet --port COM1 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 1
    expect_equal "standard error besides the trace" "$(untraced "$WORK/silent.err")" \
        "$UPDATE_NOT_ANSWERED"$'\n'"$SILENT_REASON"
    expect_equal "Syncs sent" "$(grep -c -- '-> AA 0D 00 00 00 00$' "$WORK/silent.err")" 60
    expect_equal "replies read" "$(grep -c -- '<- nothing (6 asked)$' "$WORK/silent.err")" 60
    expect_sim_silent_on "TransferFirmware"
}

flash_eeprom_fails() {
    start_sim eeprom --mode update --status 0x0080 || return
    flash eeprom update --quiet --port COM1 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 1
    expect_equal "standard error besides the trace" "$(untraced "$WORK/eeprom.err")" \
        "$EEPROM_FAIL"$'\n'"$EEPROM_REASON"
    expect_sim_said "Query 0xF2: value 0x0080"
}

flash_absent_port() {
    flash absent update --quiet --port "$ABSENT_PORT"
    expect_equal "exit status" "$FLASH_STATUS" 3
    expect_equal "standard error" "$(cat "$WORK/absent.err")" \
        "$CANNOT_OPEN_PORT"$'\n'"$ABSENT_PORT: \
no such port here; 'zq417-flash ports' lists the ports that are present."
}

# The port list reads the ports from the system: COM1 and COM7 are the ones the key gave Wine.
flash_ports() {
    flash ports ports
    expect_equal "exit status" "$FLASH_STATUS" 0
    grep -qxF '  COM1  \\.\COM1  present' "$WORK/ports.out" ||
        problem "COM1 not listed as present: $(cat "$WORK/ports.out")"
    grep -qE '^  \\\\\.\\COM7( |$)' "$WORK/ports.out" ||
        problem "COM7 not listed: $(cat "$WORK/ports.out")"
}

# Past COM4 the command line takes a COM name as it is, opened in the device namespace.
flash_update_com7() {
    start_sim com7 --mode update || return
    flash com7 update --quiet --port com7 --trace
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 0
    expect_equal "standard output" "$(cat "$WORK/com7.out")" "$UPDATE_SUCCESS"
    grep -qF 'COM7 is \\.\COM7' "$WORK/com7.err" || problem "COM7 not opened as \\.\COM7"
}

# flash chooses by the board's mode; --json gives one line a machine reads.
flash_json() {
    start_sim json --mode update || return
    flash json flash --quiet --json --port COM1
    stop_sim
    expect_equal "exit status" "$FLASH_STATUS" 0
    expect_equal "lines on standard output" "$(wc -l <"$WORK/json.out")" 1
    local field
    for field in '"port":"COM1"' '"operation":"flash"' '"performed":"update"' '"ok":true' \
        '"exit":0' '"board_mode":"update"' '"status":0' "\"sha256\":\"$IMAGE_SHA256\""; do
        grep -qF -- "$field" "$WORK/json.out" || problem "no $field in: $(cat "$WORK/json.out")"
    done
}

# --- the window -------------------------------------------------------------------------------------

click_control() {
    local id=$1 x y
    read -r x y < <(readbox centre "$TITLE" "$id")
    if [ -z "${y:-}" ]; then
        problem "control $id of \"$TITLE\" not found"
        return 1
    fi
    xdotool mousemove --sync "$x" "$y" click 1
}

# Closes the box with the keyboard, as a user would, and tells whether it went.
dismiss_box() {
    local title=$1 box
    box=$(timeout 10 xdotool search --name "^$title\$" | head -n1)
    if [ -z "$box" ]; then
        problem "no X window for the \"$title\" box"
        return 1
    fi
    xdotool windowfocus --sync "$box"
    sleep 0.3
    xdotool key Return
    local i
    for ((i = 0; i < 10; i++)); do
        [ "$(readbox box 0 | head -n1)" = "no box" ] && return 0
        sleep 0.5
    done
    problem "the \"$title\" box did not close"
    return 1
}

screenshot() {
    import -window root "$ARTIFACTS/$1.png" 2>>"$WORK/import.log" ||
        problem "no screenshot $1.png: $(tail -n1 "$WORK/import.log")"
}

window_download() {
    start_sim window --mode download || return
    wine_run 150 "$UPDATER" >"$WORK/updater.log" 2>&1 &
    local updater=$!
    remember_pid "$updater"
    if [ -z "$(timeout 30 xdotool search --sync --name "^$TITLE\$" | head -n1)" ]; then
        problem "the window did not appear: $(cat "$WORK/updater.log")"
        stop_pid "$updater"
        return
    fi

    # COM1 to COM4 first whatever exists, chosen COM1 at a first start; then the ports Wine has,
    # COM7 among them (Wine may give the machine's own serial ports other numbers too).
    local ports
    ports=$(readbox combo "$TITLE" "$PORT_COMBO")
    expect_equal "port list, first four" "$(head -n4 <<<"$ports")" \
        $'item: COM1\nitem: COM2\nitem: COM3\nitem: COM4'
    expect_equal "port chosen" "$(tail -n1 <<<"$ports")" "selected: COM1"
    grep -qE '^item: COM7( |$)' <<<"$ports" || problem "COM7 not listed: $ports"

    # Download with the board in download mode: one box, the success.
    click_control "$DOWNLOAD_BUTTON"
    expect_equal "the box after Download" "$(readbox box 60000)" \
        $'title: OK\nicon: no\nowner: '"$TITLE"$'\ntext:\n'"$DOWNLOAD_SUCCESS"
    # The update phase's range counts the 32 header bytes, so the bar ends full.
    expect_equal "progress bar" "$(readbox progress "$TITLE" "$PROGRESS_BAR")" \
        "position 5728 of 0..5728"
    screenshot firmware-updater-download
    dismiss_box OK
    expect_sim_said \
        "loader: 360 bytes ignored, then wake bytes and LoaderCommand for 5696 bytes" \
        "loader: 5696 image bytes received, image started" \
        "Data: 5728 bytes received, acknowledged, EEPROM programmed, status 0x0000"

    # The board now runs its firmware, so a second Download meets a board in update mode.
    click_control "$DOWNLOAD_BUTTON"
    expect_equal "the box after a second Download" "$(readbox box 30000)" \
        $'title: Error\nicon: yes\nowner: '"$TITLE"$'\ntext:\n'"$BOARD_IN_UPDATE_MODE"
    screenshot firmware-updater-wrong-mode
    dismiss_box Error

    # Escape is a command the dialog ignores: the window stays.
    local window
    window=$(timeout 10 xdotool search --name "^$TITLE\$" | head -n1)
    xdotool windowfocus --sync "$window"
    sleep 0.3
    xdotool key Escape
    sleep 0.5
    kill -0 "$updater" 2>/dev/null || problem "Escape closed the window"

    click_control "$EXIT_BUTTON"
    wait_pid "$updater" 15
    local status=$?
    expect_equal "exit status of firmware-updater.exe" "$status" 0
    [ "$status" -eq 124 ] && stop_pid "$updater"
    stop_sim
}

# A command that reaches the dialog while an operation waits in its box is ignored: the Update
# posted while the mode error of a Download is up never runs inside that Download.
window_command_while_busy() {
    start_sim busy --mode update || return
    wine_run 150 "$UPDATER" >"$WORK/updater-busy.log" 2>&1 &
    local updater=$!
    remember_pid "$updater"
    if [ -z "$(timeout 30 xdotool search --sync --name "^$TITLE\$" | head -n1)" ]; then
        problem "the window did not appear: $(cat "$WORK/updater-busy.log")"
        stop_pid "$updater"
        return
    fi
    click_control "$DOWNLOAD_BUTTON"
    expect_equal "the box after Download" "$(readbox box 30000)" \
        $'title: Error\nicon: yes\nowner: '"$TITLE"$'\ntext:\n'"$BOARD_IN_UPDATE_MODE"
    readbox command "$TITLE" "$UPDATE_BUTTON" || problem "the Update command could not be posted"
    # A nested Update would have its handshake answered within a second.
    sleep 3
    dismiss_box Error
    sleep 1
    expect_equal "boxes left" "$(readbox box 0 | head -n1)" "no box"
    expect_sim_silent_on "TransferFirmware"
    click_control "$EXIT_BUTTON"
    wait_pid "$updater" 15
    local status=$?
    expect_equal "exit status of firmware-updater.exe" "$status" 0
    [ "$status" -eq 124 ] && stop_pid "$updater"
    stop_sim
}

start_updater() {
    local log=$1
    wine_run 150 "$UPDATER" >"$WORK/$log" 2>&1 &
    UPDATER_PID=$!
    remember_pid "$UPDATER_PID"
    if [ -z "$(timeout 30 xdotool search --sync --name "^$TITLE\$" | head -n1)" ]; then
        problem "the window did not appear: $(cat "$WORK/$log")"
        stop_pid "$UPDATER_PID"
        return 1
    fi
}

exit_updater() {
    click_control "$EXIT_BUTTON"
    wait_pid "$UPDATER_PID" 15
    local status=$?
    expect_equal "exit status of firmware-updater.exe" "$status" 0
    [ "$status" -eq 124 ] && stop_pid "$UPDATER_PID"
}

# COM7, which the registry maps to the board's line, picked from the list: the whole name
# reaches the job, and the port of the Update that succeeded is chosen at the next start.
window_com7_remembered() {
    start_sim com7-window --mode update || return
    start_updater updater-com7.log || return
    readbox select "$TITLE" "$PORT_COMBO" COM7 >/dev/null || problem "COM7 could not be chosen"
    click_control "$UPDATE_BUTTON"
    expect_equal "the box after Update on COM7" "$(readbox box 60000)" \
        $'title: OK\nicon: no\nowner: '"$TITLE"$'\ntext:\n'"$UPDATE_SUCCESS"
    dismiss_box OK
    exit_updater
    stop_sim
    local kept
    kept=$(wine_run 60 reg query 'HKCU\Software\Firmware Updater' /v LastPort 2>/dev/null | tr -d '\r')
    grep -qE 'LastPort +REG_SZ +COM7$' <<<"$kept" || problem "COM7 not kept: $kept"

    start_updater updater-com7-again.log || return
    readbox combo "$TITLE" "$PORT_COMBO" | tail -n1 | grep -qE '^selected: COM7( |$)' ||
        problem "COM7 not chosen at the next start: $(readbox combo "$TITLE" "$PORT_COMBO")"
    exit_updater
}

# The dialog at 96 and 144 DPI: with its manifest it lays itself out in the units of its font at
# the system's DPI, half as large again at 144. Screenshots for the documentation.
window_dpi() {
    local dpi width96="" window geometry width
    for dpi in 96 144; do
        wine_run 60 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
            >/dev/null 2>&1 || problem "LogPixels $dpi could not be set"
        start_updater "updater-$dpi.log" || return
        window=$(timeout 10 xdotool search --name "^$TITLE\$" | head -n1)
        sleep 1
        geometry=$(xdotool getwindowgeometry "$window")
        width=$(sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p' <<<"$geometry")
        import -window "$window" "$ARTIFACTS/win32-dialog-${dpi}dpi.png" 2>>"$WORK/import.log" ||
            problem "no screenshot at $dpi DPI"
        exit_updater
        if [ "$dpi" = 96 ]; then
            width96=$width
        elif [ -n "$width96" ] && [ -n "$width" ]; then
            # 1.5 times as wide, give or take the frame and the font's rounding.
            [ $((width * 100 / width96)) -ge 135 ] && [ $((width * 100 / width96)) -le 165 ] ||
                problem "at 144 DPI the window is $width pixels wide, at 96 DPI $width96"
        fi
    done
    wine_run 60 reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
}

# --- main ---------------------------------------------------------------------------------------------

main() {
    local tool
    for tool in wine wineserver Xvfb xdotool import x86_64-w64-mingw32-objdump c++; do
        command -v "$tool" >/dev/null || {
            echo "wine tests: $tool is missing"
            return 1
        }
    done
    local file
    for file in "$FLASH" "$UPDATER" "$READBOX" "$DUMPRES" "$SIM"; do
        [ -f "$file" ] || {
            echo "wine tests: $file is missing (build the windows and default presets)"
            return 1
        }
    done
    mkdir -p "$WORK" "$ARTIFACTS"
    rm -f "$WORK"/*.log "$WORK"/*.out "$WORK"/*.err "$ARTIFACTS"/*.png "$PID_FILE"

    c++ -std=c++20 -O2 -shared -fPIC -o "$PTY_LINE" "$ROOT/tools/wine/pty_line.cpp" -ldl || {
        echo "wine tests: tools/wine/pty_line.cpp does not build"
        return 1
    }

    local start=$SECONDS
    make_prefix || return 1
    echo "wine prefix ready in $((SECONDS - start)) s"

    start_wineserver || return 1
    run_case windows_imports
    run_case dialog_template
    run_case flash_download
    run_case flash_update
    run_case flash_board_in_update_mode
    run_case flash_silent_board
    run_case flash_eeprom_fails
    run_case flash_absent_port
    run_case flash_ports
    run_case flash_update_com7
    run_case flash_json
    stop_wineserver

    # A server started without a display would give the window none.
    start_display || return 1
    start_wineserver || return 1
    run_case window_download
    run_case window_command_while_busy
    run_case window_com7_remembered
    run_case window_dpi
    stop_wineserver
    stop_display

    local shot
    for shot in "$ARTIFACTS"/*.png; do
        [ -f "$shot" ] && echo "screenshot: $shot"
    done
    echo "wine: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

main "$@"
