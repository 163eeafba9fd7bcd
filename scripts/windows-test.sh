# shellcheck shell=bash
# shellcheck disable=SC2154  # win_dir, qt_prefix, stage, version, jobs, here: set by scripts/windows, which sources this
# Sourced by scripts/windows --test: the Windows build tried under wine on this machine.
#
#   1. the Windows unit tests (build-windows/vek_unit_tests.exe);
#   2. the Win32 serial port against the transmitter simulator: wine's COM1 is a link in the
#      prefix's dosdevices folder to the simulator's pseudo-terminal
#      (build-windows/vek_win32_serial_tests.exe), a port with no link is not present; then
#      the same port while the simulator ends and another starts, as an adapter unplugged and
#      plugged back in;
#   3. the packaged program under wine on a virtual X display polling the simulator on COM1;
#      a screenshot of the main window goes to docs/main-window-windows.png; then, with the X
#      server's keyboard and mouse as a user's, it starts the data log and writes two set-up
#      registers: every request the simulator received must be the Linux build's poll or one
#      of those writes, byte for byte, and answered, and the data log must be written in
#      Documents\VEK Modbus RTU;
#   4. the same program through an Ethernet gateway (Windows sockets): the simulator serving
#      TCP, as RTU over TCP dropping the connection after every second reply, then as Modbus
#      TCP; the requests must be the poll and each answered;
#   5. the installer run silently (/S): the files and the Start-menu entry it makes, and its
#      uninstaller taking them away.
#
# Everything of wine's lives in build-windows/wineprefix; the logs in build-windows/wine-test.

vek_windows_test() {
    local t="$win_dir/wine-test"
    rm -rf "$t"
    mkdir -p "$t"
    export WINEPREFIX="$win_dir/wineprefix" WINEARCH=win64 WINEDEBUG=-all
    # No offer to download wine's .NET and browser parts.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    # A virtual display of our own, on the first free number from 90.
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >"$t/xvfb.log" 2>&1 &
    local xvfb=$!
    sim=""  # the simulator's process, while one runs (global: the exit trap ends it)
    # shellcheck disable=SC2064
    # (set -e holds in the trap too: nothing in it may fail.)
    trap "kill \${sim:-} $xvfb 2>/dev/null || true; wineserver -k 2>/dev/null || true" EXIT
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        vek_say "making a wine prefix in build-windows/wineprefix (a minute or so)"
        wineboot -i >"$t/wineboot.log" 2>&1 || true
        wineserver -w
    fi
    # Qt's DLLs and the MinGW run-time for the test programs, which are not staged.
    local rt path=""
    for rt in "$qt_prefix/bin" $(vek_mingw_runtime | xargs -n1 dirname | sort -u); do
        path+="$(winepath -w "$rt" 2>/dev/null);"
    done
    export WINEPATH="$path"

    # A program that crashes ends there: no debugger waits for someone to attach.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
        /d false /f >/dev/null 2>&1
    # Each step goes on after a failure of the one before, which is reported at the end.
    local failed=()

    # 1. unit tests
    vek_say "running the Windows unit tests under wine"
    if TZ=UTC QT_QPA_PLATFORM=offscreen timeout 900 wine "$win_dir/vek_unit_tests.exe" >"$t/unit.log" 2>&1 &&
            grep -q '^\[  PASSED  \]' "$t/unit.log"; then
        vek_say "unit tests: $(grep -E '^\[  PASSED  \]' "$t/unit.log" | tr -s ' ')$(grep -E '^\[  SKIPPED \] [0-9]' "$t/unit.log" | tr -s ' ' | sed 's/, listed below://; s/^/, /')"
    else
        vek_say "the Windows unit tests failed ($(grep -c '^\[       OK \]' "$t/unit.log") passed before the end); see build-windows/wine-test/unit.log:"
        grep -E '^\[  FAILED  \]|Unhandled' "$t/unit.log" | sort -u | head -n 40 >&2
        failed+=("unit tests")
    fi

    # The simulator, built for this machine.
    vek_configure "$win_dir/host" -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF
    # shellcheck disable=SC2016  # expanded by the inner shell
    VEK_JOBS=$jobs nice -n 19 bash -c '. "$1/scripts/trees.sh"; vek_build "$2" "the simulator (for this machine)" vek-transmitter-sim' \
        windows "$here" "$win_dir/host"

    # 2. the serial port
    vek_start_sim "$t/serial"
    # A port wine has neither a Ports key nor a dosdevices link for: not present.
    local absent=9
    while ((absent > 2)) && { [ -e "$WINEPREFIX/dosdevices/com$absent" ] ||
            wine reg query 'HKLM\Software\Wine\Ports' /v "COM$absent" >/dev/null 2>&1; }; do
        absent=$((absent - 1))
    done
    vek_say "running the Win32 serial port's tests under wine against the simulator on COM1 (COM$absent absent)"
    if ! VEK_TEST_COM=1 VEK_TEST_ABSENT_COM=$absent timeout 300 wine "$win_dir/vek_win32_serial_tests.exe" \
            >"$t/serial.log" 2>&1; then
        vek_say "the serial port's tests failed; the end of build-windows/wine-test/serial.log:"
        tail -n 40 "$t/serial.log" >&2
        failed+=("serial port")
    fi
    if grep -q 'VEK_TEST_COM names no port' "$t/serial.log"; then
        vek_say "the serial port's tests were skipped: COM1 did not reach the simulator"
        failed+=("serial port")
    fi
    vek_say "serial port: $(grep -E '^\[  PASSED  \]' "$t/serial.log" | tr -s ' ')$(grep -E '^\[  SKIPPED \] [0-9]' "$t/serial.log" | tr -s ' ' | sed 's/, listed below://; s/^/, /')"
    vek_stop_sim
    # An adapter pulled out and plugged back in: the simulator ends while the port is open,
    # its pseudo-terminal and COM1's link go; 4 s later another simulator starts and COM1's
    # link is made to it, wine running on (it follows the link at each opening).
    vek_start_sim "$t/gone"
    vek_say "unplugging the simulator while the Windows port has it open, then plugging another in"
    (
        sleep 4
        kill "$sim" 2>/dev/null
        rm -f "$WINEPREFIX/dosdevices/com1"
        sleep 4
        "$win_dir/host/vek-transmitter-sim" --link "$t/replug-tty" --log "$t/replug-sim.log" >"$t/replug-sim.out" 2>&1 &
        echo $! >"$t/replug.pid"
        for _ in $(seq 50); do [ -e "$t/replug-tty" ] && break; sleep 0.1; done
        ln -sfn "$(readlink -f "$t/replug-tty")" "$WINEPREFIX/dosdevices/com1"
    ) &
    local plugger=$!
    if VEK_TEST_GONE=1 VEK_TEST_COM=1 timeout 120 wine "$win_dir/vek_win32_serial_tests.exe" \
            --gtest_filter='*PulledOut*' >"$t/gone.log" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$t/gone.log" &&
            grep -q '"dir":"rx","len":8,"hex":"01 03 00 00 00 4E C5 FE"' "$t/replug-sim.log"; then
        vek_say "serial port: an unplugged device is reported gone, its openings fail with its name, plugged back in it is found again; no busy loop meanwhile"
    else
        vek_say "the unplugged and replugged port failed; the end of build-windows/wine-test/gone.log:"
        tail -n 30 "$t/gone.log" >&2
        failed+=("unplugged port")
    fi
    wait "$plugger" 2>/dev/null || true
    if [ -f "$t/replug.pid" ]; then kill "$(cat "$t/replug.pid")" 2>/dev/null || true; fi
    vek_stop_sim

    # 3. the program
    vek_start_sim "$t/program"
    local docs
    docs="$(winepath -u "$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')")/Documents/VEK Modbus RTU"
    mkdir -p "$docs"
    rm -f "$docs/wine-test.xls"
    printf '[0]\nPARITY=0\nDATA_BITS=0\nBAUD_RATE=0\nBIT_STOP=0\nCOMPORT=1\nPorta=1\n' >"$docs/RS_Settings"
    vek_say "starting the Windows program under wine on the virtual display, polling COM1"
    wine "$stage/vek-modbus-rtu.exe" >"$t/program.log" 2>&1 &
    local prog=$!
    local polls=0 waited=0
    while ((waited < 40)) && ((polls < 3)); do
        sleep 1
        waited=$((waited + 1))
        polls=$(grep -c '"dir":"rx"' "$t/program-sim.log" 2>/dev/null || true)
        kill -0 "$prog" 2>/dev/null || break
    done
    if ((polls < 2)); then
        vek_say "the program sent $polls request(s) in $waited s (two or more expected); its output:"
        tail -n 20 "$t/program.log" >&2
        failed+=("program")
    fi
    sleep 2  # the latest reply shown
    vek_screenshot "$here/docs/main-window-windows.png"

    # What a user does, through the X server's keyboard and mouse: starts the data log, sets
    # RL1_TH_MinMax (register 45) to Min in User Set Up, and types Dist. Full (register 12)
    # into the dialog a double click on it opens. The writes' frames and the log are checked
    # below.
    vek_say "using the program: the data log, a switch in User Set Up, a value typed into Dist. Full"
    vek_drive_program || failed+=("using the program")
    # The writes wait for the poll in flight; the log takes a row at each poll.
    local rows=0
    waited=0
    while ((waited < 20)) && ((rows < 2)); do
        sleep 1
        waited=$((waited + 1))
        [ -f "$docs/wine-test.xls" ] && rows=$(($(wc -l <"$docs/wine-test.xls") - 1))
    done
    kill "$prog" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    vek_stop_sim

    # Every request is the poll or one of the two writes, byte for byte as the Linux build
    # sends them, each answered.
    local poll="01 03 00 00 00 4E C5 FE" other answered
    local writes=("$(vek_write_frame 1 45 0)" "$(vek_write_frame 1 12 1234)")
    other=$(grep '"dir":"rx"' "$t/program-sim.log" | grep -v "\"hex\":\"$poll\"" |
        grep -vc -e "\"hex\":\"${writes[0]}\"" -e "\"hex\":\"${writes[1]}\"" || true)
    polls=$(grep '"dir":"rx"' "$t/program-sim.log" | grep -c "\"hex\":\"$poll\"" || true)
    answered=$(grep '"dir":"tx"' "$t/program-sim.log" | grep -c '"len":161' || true)
    if ((polls == 0)) || ((other > 0)) || ((answered < polls)); then
        vek_say "the frames on the wire are not the Linux build's: $other other request(s), $answered of $polls polls answered"
        grep '"dir"' "$t/program-sim.log" | grep -v "\"hex\":\"$poll\"" | head -n 10 >&2
        failed+=("frames")
    else
        vek_say "program: $polls polls under wine, every one \"$poll\" as on Linux, $answered replies of 161 bytes sent"
    fi
    local w reg value
    for w in 0 1; do
        reg=$([ $w = 0 ] && echo 45 || echo 12)
        value=$([ $w = 0 ] && echo 0 || echo 1234)
        if [ "$(grep '"dir":"rx"' "$t/program-sim.log" | grep -c "\"hex\":\"${writes[$w]}\"")" = 1 ] &&
                grep -q "\"event\":\"write\",\"register\":$reg,\"old\":[0-9]*,\"value\":$value}" "$t/program-sim.log" &&
                grep '"dir":"tx"' "$t/program-sim.log" | grep -q "\"hex\":\"${writes[$w]}\""; then
            vek_say "program: register $reg written with $value once, as \"${writes[$w]}\" as on Linux, and echoed"
        else
            vek_say "the write of $value to register $reg was not \"${writes[$w]}\" once, taken and echoed; the writes seen:"
            grep -e '"event":"write"' -e '"hex":"01 06' "$t/program-sim.log" | head -n 10 >&2
            failed+=("write of register $reg")
        fi
    done
    vek_check_log "$docs/wine-test.xls" || failed+=("data log")
    vek_say "screenshot: docs/main-window-windows.png"

    # 4. the program through an Ethernet gateway: the simulator serving TCP on 127.0.0.1,
    # RTU over TCP dropping the connection after every second reply (the program connects
    # anew), then Modbus TCP.
    vek_gateway_check rtu 1 '"hex":"01 03 00 00 00 4E C5 FE"' --close-after 2 || failed+=("RTU over TCP")
    # (The simulator logs a Modbus TCP request as the serial frame it stands for, and answers
    # only one whose MBAP header is right.)
    vek_gateway_check mbap 2 '"hex":"01 03 00 00 00 4E C5 FE"' || failed+=("Modbus TCP")

    # 5. the installer, silently: what it puts where, and that its uninstaller takes it away.
    vek_say "installing with the installer under wine, then uninstalling"
    local setup="$win_dir/vek-modbus-rtu-$version-windows-x64-setup.exe"
    local dir="$WINEPREFIX/drive_c/Program Files/VEK Modbus RTU"
    local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VEK Modbus RTU"
    local want=(vek-modbus-rtu.exe Panel_def.uir LogoVerde.bmp Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
                platforms/qwindows.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll LICENSE.txt
                Uninstall.exe)
    local f lacking=()
    timeout 300 wine "$setup" /S >"$t/install.log" 2>&1 || true
    wineserver -w
    for f in "${want[@]}"; do [ -e "$dir/$f" ] || lacking+=("$f"); done
    [ -e "$menu/VEK Modbus RTU.lnk" ] || lacking+=("the Start-menu entry")
    if [ ${#lacking[@]} -gt 0 ]; then
        vek_say "the installer left out: ${lacking[*]}"
        failed+=("installer")
    else
        timeout 300 wine "$dir/Uninstall.exe" /S >>"$t/install.log" 2>&1 || true
        wineserver -w
        sleep 2  # the uninstaller runs a copy of itself, which removes the folder
        if [ -e "$dir/vek-modbus-rtu.exe" ] || [ -e "$menu/VEK Modbus RTU.lnk" ]; then
            vek_say "the uninstaller left the program or its Start-menu entry behind"
            failed+=("uninstaller")
        else
            vek_say "installer: ${#want[@]} files in Program Files\\VEK Modbus RTU and a Start-menu entry; the uninstaller removed them"
        fi
    fi

    if [ ${#failed[@]} -gt 0 ]; then
        vek_say "FAILED under wine: ${failed[*]}"
        exit 1
    fi
    vek_say "everything passed under wine"
}

# vek_start_sim NAME: the simulator on a pseudo-terminal, logging to NAME-sim.log, and
# wine's COM1 pointed at it.
vek_start_sim() {
    local name=$1
    rm -f "$name-tty"
    "$win_dir/host/vek-transmitter-sim" --link "$name-tty" --log "$name-sim.log" >"$name-sim.out" 2>&1 &
    sim=$!
    for _ in $(seq 50); do [ -e "$name-tty" ] && break; sleep 0.1; done
    if [ ! -e "$name-tty" ]; then
        vek_say "the simulator did not start:"
        cat "$name-sim.out" >&2
        exit 1
    fi
    # Wine's mount manager makes the dosdevices links of the COM ports from its registry at
    # start, replacing one made by hand: the port goes in both, and wine starts afresh.
    local pts
    pts=$(readlink -f "$name-tty")
    wineserver -k 2>/dev/null || true
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pts" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    ln -sfn "$pts" "$WINEPREFIX/dosdevices/com1"
}

vek_stop_sim() {
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=""
}

# vek_screenshot FILE: the program's main window as PNG (the whole screen if it is not found).
vek_screenshot() {
    local id
    id=$(xdotool search --onlyvisible --name 'VEK|----' 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
        xwd -silent -id "$id" | xwdtopnm 2>/dev/null | pnmtopng >"$1"
    else
        xwd -silent -root | xwdtopnm 2>/dev/null | pnmtopng >"$1"
    fi
}

# vek_write_frame SLAVE REGISTER VALUE: the Write Single Register request as hex, worked out
# here and not by the program: the register goes as its number less one, the address and
# the value high byte first, the CRC-16 (polynomial 0xA001 reflected, from 0xFFFF) low byte
# first.
vek_write_frame() {
    local bytes=("$(($1 & 0xFF))" 6 "$((($2 - 1) >> 8 & 0xFF))" "$((($2 - 1) & 0xFF))" "$(($3 >> 8 & 0xFF))" "$(($3 & 0xFF))")
    local crc=0xFFFF b out=""
    for b in "${bytes[@]}"; do
        crc=$((crc ^ b))
        for _ in 1 2 3 4 5 6 7 8; do
            if ((crc & 1)); then crc=$(((crc >> 1) ^ 0xA001)); else crc=$((crc >> 1)); fi
        done
        out+=$(printf '%02X ' "$b")
    done
    printf '%s%02X %02X\n' "$out" $((crc & 0xFF)) $((crc >> 8))
}

# vek_wait_window NAME: the id of the visible window named NAME, once it shows (10 s at most).
vek_wait_window() {
    local id="" _
    for _ in $(seq 50); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { vek_say "no window \"$1\" showed"; return 1; }
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    sleep 0.3
    echo "$id"
}

# vek_keys WINDOW KEY...: keys pressed with WINDOW in focus (through XTEST, as a user's).
vek_keys() {
    local id=$1
    shift
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --delay 60 "$@"
    sleep 0.3
}

# vek_drive_program: the user's side of the program's check, on the main window as it is
# after starting (the focus on the window itself). Tab walks a window's inputs in their
# order: on the main window the slave address, then the buttons from "RS485Settings" on;
# in the data log window the file name, "Browse...", the interval, "Open/Create", "Start
# writing"; in User Set Up the two line settings, then a stop per switch.
vek_drive_program() {
    local main dialog geometry width height
    main=$(vek_wait_window 'VEK.* Modbus RTU Software') || return 1
    # The data log, named without a folder: it goes to Documents\VEK Modbus RTU.
    vek_keys "$main" Tab Tab Tab Tab Tab space
    dialog=$(vek_wait_window 'Data Logger') || return 1
    vek_keys "$dialog" Tab ctrl+a
    xdotool type --delay 40 'wine-test.xls'
    vek_keys "$dialog" Tab Tab Tab space
    vek_keys "$dialog" Tab space
    vek_keys "$dialog" Escape
    # RL1_TH_MinMax from Max (the simulator's) to Min: written at once.
    geometry=$(xdotool getwindowgeometry --shell "$main")
    width=$(echo "$geometry" | sed -n 's/^WIDTH=//p')
    height=$(echo "$geometry" | sed -n 's/^HEIGHT=//p')
    # A click on the window's empty top right corner gives the focus back to the window.
    xdotool mousemove --window "$main" $((width - 12)) 12 click 1
    vek_keys "$main" Tab Tab Tab space
    dialog=$(vek_wait_window 'User Set Up') || return 1
    vek_keys "$dialog" Tab Tab Tab Tab space
    vek_keys "$dialog" Escape
    # Dist. Full: the third field of the Settings box, at (510, 166) of the 693 x 547 main
    # window wine shows here; a window of another size is taken as scaled.
    xdotool mousemove --window "$main" $((510 * width / 693)) $((166 * height / 547)) click --repeat 2 --delay 80 1
    dialog=$(vek_wait_window 'Write Register Value') || return 1
    vek_keys "$dialog" ctrl+a
    xdotool type --delay 40 '1234'
    vek_keys "$dialog" Return
}

# vek_check_log FILE: the data log the program wrote: the header as the Linux build writes
# it (the degree sign one byte, 0xB0), then rows of ten tab-separated fields, date and time
# first.
vek_check_log() {
    local header row='^[0-9]{2}-[0-9]{2}-[0-9]{4}\t[0-9]{2}:[0-9]{2}:[0-9]{2}\t *[0-9]+\t *-?[0-9]+\t-?[0-9.]+\t-?[0-9.]+\t-?[0-9.]+\t *[0-9]+\t(ON|OFF)\t(ON|OFF)$'
    header=$(printf 'Date\tTime\tDist[mm]\tLevel[mm]\tLevel[%%]\tTemp[\260C]\tOutput[mA]\tMeasure status\tRL1 Status\tRL2 Status')
    if [ ! -f "$1" ]; then
        vek_say "the data log was not written: no $(basename "$1") in Documents\\VEK Modbus RTU"
        return 1
    fi
    local rows bad
    rows=$(($(wc -l <"$1") - 1))
    bad=$(tail -n +2 "$1" | LC_ALL=C grep -cvP "$row" || true)
    if [ "$(head -n 1 "$1")" != "$header" ] || ((rows < 1)) || ((bad > 0)); then
        vek_say "the data log is not as on Linux: $rows row(s), $bad not in the row format; its start:"
        head -n 4 "$1" | cat -A >&2
        return 1
    fi
    vek_say "data log: Documents\\VEK Modbus RTU\\$(basename "$1") has the header and $rows row(s)"
}

# vek_gateway_check KIND CONNECTION REQUEST [SIMULATOR OPTION...]: the packaged program polling
# the simulator as a gateway of KIND (--tcp-kind) through Windows sockets, chosen in
# RS_Settings as CONNECTION (1 RTU over TCP, 2 Modbus TCP): three polls or more in 25 s, each
# request matching REQUEST (an extended regular expression on the simulator's log line) and
# each answered with the 78 registers.
vek_gateway_check() {
    local kind=$1 connection=$2 request=$3
    shift 3
    local t="$win_dir/wine-test" docs out
    out="$t/gateway-$kind"
    "$win_dir/host/vek-transmitter-sim" --tcp 0 --tcp-kind "$kind" --log "$out-sim.log" "$@" >"$out-sim.out" 2>&1 &
    local gw=$! hostport=""
    for _ in $(seq 50); do
        hostport=$(head -n 1 "$out-sim.out" 2>/dev/null | grep -E '^[0-9.]+:[0-9]+$' || true)
        [ -n "$hostport" ] && break
        sleep 0.1
    done
    if [ -z "$hostport" ]; then
        vek_say "the simulator did not serve TCP:"
        cat "$out-sim.out" >&2
        kill "$gw" 2>/dev/null || true
        return 1
    fi
    docs="$(winepath -u "$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')")/Documents/VEK Modbus RTU"
    printf '[0]\nPARITY=0\nDATA_BITS=0\nBAUD_RATE=0\nBIT_STOP=0\nCOMPORT=1\nPorta=1\nCONNECTION=%s\nNET_HOST=%s\nNET_PORT=%s\n' \
        "$connection" "${hostport%:*}" "${hostport##*:}" >"$docs/RS_Settings"
    wine "$stage/vek-modbus-rtu.exe" >"$out-program.log" 2>&1 &
    local prog=$! polls=0 waited=0
    while ((waited < 25)) && ((polls < 4)); do
        sleep 1
        waited=$((waited + 1))
        polls=$(grep -c '"dir":"rx"' "$out-sim.log" 2>/dev/null || true)
        kill -0 "$prog" 2>/dev/null || break
    done
    kill "$prog" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$gw" 2>/dev/null || true
    wait "$gw" 2>/dev/null || true
    local other answered connects
    other=$(grep '"dir":"rx"' "$out-sim.log" | grep -Evc "$request" || true)
    answered=$(grep '"dir":"tx"' "$out-sim.log" | grep -Ec '"len":(161|165),' || true)
    connects=$(grep -c '"event":"connect"' "$out-sim.log" || true)
    if ((polls < 3)) || ((other > 0)) || ((answered < polls)); then
        vek_say "through the $kind gateway: $polls request(s), $other not the poll, $answered answered; the simulator's log:"
        grep -E '"dir"|"event"' "$out-sim.log" | head -n 8 >&2
        return 1
    fi
    vek_say "gateway ($kind): $polls polls through Windows sockets, all the poll and answered, over $connects connection(s)"
}
