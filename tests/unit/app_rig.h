// The whole program, headless, with its real callbacks: panel model, in-memory serial
// line, virtual clock, recorded pop-ups and real files. A scripted transmitter can answer
// on the line. Nothing here sleeps.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <ctime>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "app_state.h"
#include "run_to_end.h"
#include "mb_crc.h"
#include "memory_rs232.h"
#include "panel_ids.h"
#include "services.h"
#include "tool_windows.h"
#include "reference_crc.h"
#include "vek_app.h"

namespace vek::test {

struct AppRig {
    using Bytes = std::vector<std::uint8_t>;

    platform::VirtualClock clock;  // wall time: wallAtZero plus the virtual seconds gone by
    platform::MemoryRs232 com{clock};
    ui::RecordingPresenter popups;
    platform::NativeFiles files;
    ui::PanelModel panels{clock, {}, VEK_BINARY_DIR};
    Services io{panels, com, clock, files, popups};
    App app{io};
    int quitStatus = -1;

    // The transmitter's register image: register n is regs[n - 1].
    std::vector<std::uint16_t> regs = std::vector<std::uint16_t>(78);
    // While false the transmitter hears the frames but stays silent.
    bool answering = true;
    // How long after a request its reply starts to arrive.
    double replyDelay = 0.05;
    // Registers (counted from 1) whose writes the transmitter refuses with exception 2.
    std::set<int> refused;
    // Registers whose writes it echoes without keeping the value.
    std::set<int> forgets;

    // `port`, when given, is the program's serial line instead of `com` (a real port, for
    // the integration tests).
    explicit AppRig(std::time_t wallAtZero = 1458000000, platform::Rs232* port = nullptr)
        : clock(wallAtZero), io{panels, port ? *port : com, clock, files, popups}
    {
        // The callbacks need the App, which needs the panels: bind them once both exist.
        panels.setCallbacks(MakeCallbackRegistry(app));
        panels.setPresenter(&popups);
        app.quit = [this](int s) { quitStatus = s; };
        StartUp(app);
    }

    // Chooses a port as the serial settings window would, so the polls go out.
    void configurePort(int port = 1)
    {
        app.link.usPortNumber = static_cast<std::uint16_t>(port);
        app.link.ucMBFlag = 1;
    }

    static Bytes withCrc(Bytes f)
    {
        const std::uint16_t crc = usMBCRC16(f.data(), f.size());
        f.push_back(static_cast<std::uint8_t>(crc));
        f.push_back(static_cast<std::uint8_t>(crc >> 8));
        return f;
    }

    // The 161-byte reply to a poll of the 78 registers, high byte first.
    Bytes pollReplyFrom(std::uint8_t slave) const
    {
        Bytes f = {slave, 3, static_cast<std::uint8_t>(2 * regs.size())};
        for (std::uint16_t r : regs) {
            f.push_back(static_cast<std::uint8_t>(r >> 8));
            f.push_back(static_cast<std::uint8_t>(r));
        }
        return withCrc(f);
    }

    // Makes the line answer like the device: function 3 with the register image, function 6
    // by storing the value and echoing the request. Frames with a bad CRC are ignored.
    void transmitter()
    {
        com.peer = [this](int port, const Bytes& f) {
            if (!answering || f.size() < 8 || usMBCRC16(f.data(), f.size()) != 0)
                return;
            if (f[1] == 3) {
                const std::size_t start = (static_cast<std::size_t>(f[2]) << 8) | f[3];
                const std::size_t count = (static_cast<std::size_t>(f[4]) << 8) | f[5];
                if (start == 0 && count == regs.size()) {
                    com.injectAfter(port, replyDelay, pollReplyFrom(f[0]));
                    return;
                }
                if (count == 0 || start + count > regs.size()) {
                    com.injectAfter(port, replyDelay, withCrc({f[0], 0x83, 2}));
                    return;
                }
                Bytes reply = {f[0], 3, static_cast<std::uint8_t>(2 * count)};
                for (std::size_t i = start; i < start + count; ++i) {
                    reply.push_back(static_cast<std::uint8_t>(regs[i] >> 8));
                    reply.push_back(static_cast<std::uint8_t>(regs[i]));
                }
                com.injectAfter(port, replyDelay, withCrc(reply));
            } else if (f[1] == 6) {
                const std::size_t reg = (static_cast<std::size_t>(f[2]) << 8) | f[3];  // 0-based
                if (refused.count(static_cast<int>(reg) + 1)) {
                    com.injectAfter(port, replyDelay, withCrc({f[0], 0x86, 2}));
                    return;
                }
                if (reg < regs.size() && !forgets.count(static_cast<int>(reg) + 1))
                    regs[reg] = static_cast<std::uint16_t>((f[4] << 8) | f[5]);
                com.injectAfter(port, replyDelay, f);
            }
        };
    }

    // A single-precision value in registers n (low 16 bits) and n + 1 (high 16 bits).
    void setFloat(int n, float f)
    {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        regs[static_cast<std::size_t>(n - 1)] = static_cast<std::uint16_t>(bits);
        regs[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(bits >> 16);
    }

    // "User Set Up" and "Advanced Set Up" (through the password), opened as the user does.
    int openUser()
    {
        panels.PostEvent(app.st.panelMain, PANEL_SET_UP_UT, EVENT_COMMIT);
        return app.st.panelUser;
    }
    int openAdvanced()
    {
        panels.PostEvent(app.st.panelMain, PANEL_SET_UP, EVENT_COMMIT);
        panels.UserSetValue(app.st.panelPassword, PASSWORD_STRING, ui::Value(std::string(kPassword)));
        panels.PostEvent(app.st.panelPassword, PASSWORD_ENTER, EVENT_COMMIT);
        return app.st.panelAdvanced;
    }

    // One poll cycle, as the main window's timer runs it.
    void tick() { Modbus_Communication(app); }

    // By default the link engine waits on the clock at once, so every exchange has ended when
    // the call that started it returns. asyncLink makes it wait as the program does, on the
    // clock's schedule: the test then moves time (settle, advance) and may act mid-exchange.
    struct ScheduleTimer : LinkTimer {
        platform::VirtualClock& clock;
        explicit ScheduleTimer(platform::VirtualClock& c) : clock(c) {}
        void After(double seconds, std::function<void()> fn) override
        {
            clock.schedule(clock.now() + (seconds > 0 ? seconds : 0), std::move(fn));
        }
    } scheduled{clock};
    void asyncLink() { app.linkTimer.setInner(scheduled); }
    // Moves time on until nothing is scheduled any more: every exchange under way or waiting
    // for the line has ended (the main window's timer does not tick meanwhile).
    void settle()
    {
        while (clock.nextDue() < std::numeric_limits<double>::infinity())
            clock.advanceTo(clock.nextDue());
    }

    std::string mainMessage() const
    {
        std::string v;
        panels.GetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, v);
        return v;
    }
    int mainLed() const
    {
        int v = -1;
        panels.GetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, v);
        return v;
    }
    std::string popupText(std::size_t i) const { return i < popups.popups.size() ? popups.popups[i].text : ""; }
};

// The Write Single Register request for register `number` (counted from 1).
inline std::vector<std::uint8_t> expectedWrite(std::uint8_t slave, int number, std::uint16_t value)
{
    std::vector<std::uint8_t> f = {slave,
                                   6,
                                   static_cast<std::uint8_t>((number - 1) >> 8),
                                   static_cast<std::uint8_t>(number - 1),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    const std::uint16_t crc = referenceCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

// A read of `count` registers from register `first` (counted from 1).
inline std::vector<std::uint8_t> expectedRead(std::uint8_t slave, int first, int count)
{
    std::vector<std::uint8_t> f = {slave,
                                   3,
                                   static_cast<std::uint8_t>((first - 1) >> 8),
                                   static_cast<std::uint8_t>(first - 1),
                                   static_cast<std::uint8_t>(count >> 8),
                                   static_cast<std::uint8_t>(count)};
    const std::uint16_t crc = referenceCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

// The poll: function 3 from address 0 for the 78 registers.
inline std::vector<std::uint8_t> expectedPoll(std::uint8_t slave) { return expectedRead(slave, 1, 78); }

// A test against a headless program whose port 1 is open on a simulated transmitter.
// The Qt-free stand-in for the program's tool windows: it counts what the app asked to show.
struct RecordingToolWindows : ToolWindows {
    int traffic = 0, trend = 0, find = 0;
    std::vector<SetupComparison> comparisons;  // every comparison shown, in order
    std::vector<std::string> progress;         // "text done/total", in order
    bool progressShown = false;
    void ShowTraffic() override { ++traffic; }
    void ShowTrend() override { ++trend; }
    void ShowSetupComparison(const SetupComparison& c) override { comparisons.push_back(c); }
    void ShowFindTransmitter() override { ++find; }
    void ShowProgress(const std::string&, const std::string& text, int done, int total) override
    {
        progress.push_back(text + " " + std::to_string(done) + "/" + std::to_string(total));
        progressShown = true;
    }
    void HideProgress() override { progressShown = false; }
};

struct TransmitterTest : ::testing::Test {
    AppRig r;
    App& app = r.app;
    ui::PanelModel& panels = r.panels;

    void SetUp() override
    {
        r.configurePort(1);
        r.transmitter();
    }
};

}  // namespace vek::test
