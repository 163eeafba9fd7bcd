# shellcheck shell=bash
# shellcheck disable=SC2154  # win_dir, qt_prefix, stage, version, jobs, here: set by scripts/windows, which sources this
# Sourced by scripts/windows --test: the Windows build tried under wine on this machine.
#
#   1. the Windows unit tests (build-windows/vek_unit_tests.exe);
#   2. the Win32 serial port against the transmitter simulator: wine's COM1 is a link in the
#      prefix's dosdevices folder to the simulator's pseudo-terminal
#      (build-windows/vek_win32_serial_tests.exe), then the same port while the simulator
#      ends, as an unplugged adapter;
#   3. the packaged program under wine on a virtual X display polling the simulator on COM1:
#      every request the simulator received must be the Linux build's poll, byte for byte,
#      and answered; a screenshot of the main window goes to docs/main-window-windows.png;
#   4. the installer run silently (/S): the files and the Start-menu entry it makes, and its
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
    vek_say "running the Win32 serial port's tests under wine against the simulator on COM1"
    if ! VEK_TEST_COM=1 timeout 300 wine "$win_dir/vek_win32_serial_tests.exe" >"$t/serial.log" 2>&1; then
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
    # An adapter pulled out: the simulator ends while the port is open.
    vek_start_sim "$t/gone"
    vek_say "ending the simulator while the Windows port has it open"
    (sleep 4; kill "$sim" 2>/dev/null) &
    local killer=$!
    if VEK_TEST_GONE=1 VEK_TEST_COM=1 timeout 120 wine "$win_dir/vek_win32_serial_tests.exe" --gtest_filter='*GoesAway*' \
            >"$t/gone.log" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$t/gone.log"; then
        vek_say "serial port: a device that goes away is reported gone, and its open then fails with its name"
    else
        vek_say "the port did not report its device gone; the end of build-windows/wine-test/gone.log:"
        tail -n 30 "$t/gone.log" >&2
        failed+=("unplugged port")
    fi
    wait "$killer" 2>/dev/null || true
    vek_stop_sim

    # 3. the program
    vek_start_sim "$t/program"
    local docs
    docs="$(winepath -u "$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')")/Documents/VEK Modbus RTU"
    mkdir -p "$docs"
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
    kill "$prog" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    vek_stop_sim

    # Every request is the poll the Linux build sends, and each was answered whole.
    local poll="01 03 00 00 00 4E C5 FE" other answered
    other=$(grep '"dir":"rx"' "$t/program-sim.log" | grep -vc "\"hex\":\"$poll\"" || true)
    answered=$(grep '"dir":"tx"' "$t/program-sim.log" | grep -c '"len":161' || true)
    if ((polls == 0)) || ((other > 0)) || ((answered < polls)); then
        vek_say "the frames on the wire are not the Linux build's: $other other request(s), $answered of $polls polls answered"
        grep '"dir"' "$t/program-sim.log" | head -n 10 >&2
        failed+=("frames")
    else
        vek_say "program: $polls polls under wine, every one \"$poll\" as on Linux, $answered replies of 161 bytes sent"
    fi
    vek_say "screenshot: docs/main-window-windows.png"

    # 4. the installer, silently: what it puts where, and that its uninstaller takes it away.
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
