// The application's state: panel handles, open flags, counters, decoded measurements,
// set-up readback and the data logger's fields. The link's own state (request, buffers,
// port settings, outcome) is LinkState. One App exists in the running program; every
// test builds a fresh one.
#pragma once
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "link_engine.h"
#include "mb_link_state.h"
#include "measurements.h"
#include "scan.h"
#include "services.h"
#include "tool_windows.h"
#include "traffic.h"
#include "trend.h"

namespace vek {

inline constexpr const char* kResourceFile = "Panel_def.uir";
inline constexpr const char* kSettingsFile = "RS_Settings";
inline constexpr const char* kLogoFile = "LogoVerde.bmp";

struct AppState {
    // Panel handles.
    int panelMain = 0, panelRs485 = 0, panelAdvanced = 0, panelUser = 0, panelPassword = 0;
    int panelWriteDialog = 0, panelInfo = 0, panelDataLog = 0;
    // Panel tracking.
    int currentPanel = 3;
    int advancedPanelOpen = 0;
    int userPanelOpen = 0;
    int dataLogPanelOpen = 0;
    // Settings file and password.
    std::string settingsFileName = kSettingsFile;
    int settingsStateIndex = 0;
    // The network connection of the settings window: 0 the serial port, 1 RTU over TCP,
    // 2 Modbus TCP, and the gateway's host and TCP port.
    struct Network {
        int kind = 0;
        std::string host;
        int port = 502;
    } network;
    // What the settings file looked like when the polling last recalled it: it is recalled
    // again only once it has changed, so a file naming no port does not undo, every tick,
    // what the user is choosing in the open settings window.
    struct FileStamp {
        int exists = -2;  // never looked at
        long long size = 0, modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    } settingsRecalled;
    std::string passwordText;
    // Poll statistics.
    int validResponseCount = 0;
    double successPercent = 0.0;
    bool valuesStale = false;   // the main window's measurements are greyed
    bool pollUnderWay = false;  // a poll waits for the line or its reply: the timer starts no other
    std::string lastValidTime;  // TimeStr of the latest valid reply, "" before any
    // The wall clock in seconds with the monotonic clock's fraction (see WallNow): set once,
    // so the traffic and trend times never step back within a session.
    double wallOffset = 0;
    bool wallOffsetSet = false;
    // Writes. The write dialogs keep their own target: the register (and the control whose
    // value it shows) the dialog was opened for. Rings, switches and other dialogs never
    // change it, so "Enter" writes where the dialog says it will.
    std::int32_t registerValue = 0;
    struct WriteTarget {
        int panel = 0;              // handle of the window the dialog was opened from
        int ctrl = 0;               // the control there whose value it writes
        int reg = 0;                // register number counted from 1; 0 = none yet
        int min = 0, max = 0xFFFF;  // what the register accepts
    } dialogTarget;
    // Data logger.
    int loggingActive = 0;
    int logFileExists = 0;
    int logInterval = 1;
    int logPollCount = 0;
    int logFileHandle = 0;
    bool logFileOpen = false;  // logFileHandle is meaningful only while this is set
    std::string logFileName;
    long long size = 0;
    std::string dataLogText;

    Measurements m;
};

// The link engine's timer as the application uses it: what falls due runs as a callback of
// the panels (one at a time with the others, a fault reported, the events that came meanwhile
// dispatched after it). It waits on the clock until the program gives it its window's timers.
class CallbackTimer : public LinkTimer {
public:
    CallbackTimer(platform::Clock& clock, ui::PanelModel& panels) : own_(clock), inner_(&own_), panels_(panels) {}
    void setInner(LinkTimer& inner) { inner_ = &inner; }
    void After(double seconds, std::function<void()> fn) override
    {
        inner_->After(seconds, [this, fn = std::move(fn)] { panels_.RunAsCallback(fn, "the link"); });
    }

private:
    ClockTimer own_;
    LinkTimer* inner_;
    ui::PanelModel& panels_;
};

struct App {
    // While it lives, a fault that escapes a job (a coroutine waiting for the line) is reported
    // as an internal error, as one escaping a callback is; the job ends and lets go of the line.
    explicit App(Services& services);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    Services& io;
    CallbackTimer linkTimer{io.clock, io.panels};
    // Every exchange with the transmitter goes through it, one at a time.
    LinkEngine engine{linkTimer};
    LinkState link;
    AppState st;
    // The registers of the latest valid read of all 78 (a poll, or a set-up tool's read): what
    // the windows show, the backups hold and the restore compares.
    RegisterImage image{};
    // Every frame on the line and every valid poll's measurements of this session, kept
    // whether or not their windows are open, so a window opened late shows what came before.
    TrafficRecorder traffic;
    TrendRecorder trend;
    // Find Transmitter: while it runs it has the port to itself.
    TransmitterScan scan;
    ToolWindows* windows = nullptr;  // null while the program runs without them (tests)
    // How the program ends: the Qt program leaves its event loop with this status; tests record it.
    std::function<void(int)> quit;

private:
    std::function<void(std::exception_ptr)> previousJobError_;
};

// Sets every default of the application and link state.
void Init_Vars(App& app);

}  // namespace vek
