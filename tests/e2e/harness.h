// What every end-to-end case needs: a working directory of its own with COM1 mapped to a
// simulator's link, the simulator as a child process with its frame log, and the whole
// program with its windows, driven and read as a user would.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "program.h"
#include "qt/event_loop.h"

// Failure messages show texts as texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace vek::e2e {

using Bytes = std::vector<std::uint8_t>;

// CRC-16 of Modbus RTU (reflected 0xA001, start 0xFFFF), written bit by bit from the
// protocol's definition rather than taken from the program.
std::uint16_t referenceCrc(const Bytes& bytes);
// `body` with its CRC appended, low byte first.
Bytes withCrc(Bytes body);
// "01 03 00 00" form, as the simulator's log writes frames.
std::string hexOf(const Bytes& bytes);
Bytes bytesOf(const std::string& hex);

// Seconds on the monotonic clock, the clock the simulator stamps its log with.
double monotonicSeconds();
// CPU time this process has used so far (user and system), in seconds.
double processCpuSeconds();

// Runs the event loop (windows, timers, the program's polls) for `ms`.
void runEventsFor(int ms);
// Runs the event loop until `done` holds or `timeoutMs` passes; true when it holds.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs);

// A fresh directory that is the working directory for the case's lifetime, with COM1
// standing for the simulator's link inside it.
class Workspace {
public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::string path(const std::string& name) const;
    std::string linkPath() const { return path("ttyTX"); }
    // Saved serial settings as the settings window writes them: COM1, 9600 baud, no parity.
    void writeSettingsForCom1() const;
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;

private:
    QTemporaryDir dir_;
    std::string previousCwd_;
};

// One frame or event of the simulator's JSON-lines log.
struct LogEntry {
    double t = 0;
    std::string dir;    // "rx", "tx", or empty for an event
    std::string event;  // the event name, or empty for a frame
    Bytes bytes;
    std::string note;
    int reg = 0, value = 0;  // of a "write" event
};

class SimLog {
public:
    explicit SimLog(std::string path) : path_(std::move(path)) {}
    std::vector<LogEntry> entries() const;
    // Requests the simulator took as addressed to it (not the ones it ignored).
    std::vector<LogEntry> requests() const;
    std::vector<LogEntry> replies() const;
    std::vector<LogEntry> events(const std::string& name) const;

private:
    std::string path_;
};

// Starts the simulator in `proc` with `args` and waits (10 s at most) for the first line it
// prints: where it can be reached (a device, or a TCP address). Empty when none came.
QString StartSimulatorProcess(QProcess& proc, const QStringList& args);

class Simulator {
public:
    // Starts it on a new pseudo-terminal linked at `link`, logging to `logPath`, and waits
    // for the device it prints.
    Simulator(const std::string& link, const std::string& logPath, const QStringList& options);
    // Starts it where `where` says (its first options: "--link PATH", or Gateway(kind)).
    Simulator(const QStringList& where, const std::string& logPath, const QStringList& options);
    // The options that make it an Ethernet gateway of `kind` ("rtu" or "mbap") on a free TCP
    // port of 127.0.0.1.
    static QStringList Gateway(const char* kind) { return {"--tcp", "0", "--tcp-kind", kind}; }
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool started() const { return !device_.isEmpty(); }
    QString device() const { return device_; }
    // Where a gateway listens: its host and TCP port.
    QString host() const { return device_.left(device_.lastIndexOf(':')); }
    QString port() const { return device_.mid(device_.lastIndexOf(':') + 1); }
    QString diagnostics() const;
    SimLog& log() { return log_; }
    // Frames the simulator ignores are then no failure: a case that probes the line for
    // other addresses and speeds sends them on purpose.
    void expectIgnoredFrames() { ignoredExpected_ = true; }
    // Stops it with SIGTERM; its exit status.
    int stop();

private:
    QProcess proc_;
    QString device_;
    SimLog log_;
    bool ignoredExpected_ = false;
};

// The register values of a poll reply (161 bytes as sent: address, function, count,
// registers 1 to 78, CRC); register n is reg(n).
class Registers {
public:
    explicit Registers(Bytes reply) : b_(std::move(reply)) {}
    int reg(int n) const
    {
        return b_.at(static_cast<std::size_t>(2 * n + 1)) << 8 | b_.at(static_cast<std::size_t>(2 * n + 2));
    }
    // A float in registers n (low 16 bits) and n + 1 (high 16 bits).
    float real(int n) const;
    const Bytes& bytes() const { return b_; }

private:
    Bytes b_;
};

// The program as the user has it: real windows, real ports, real files, real time.
// Pop-ups are recorded instead of shown; the panel timers run on the same pump the program
// uses, unless the case runs the program's own event loop (runOwnLoop).
class RunningProgram {
public:
    explicit RunningProgram(bool pumpTimers = true);
    ~RunningProgram();

    Program& program() { return *program_; }
    App& app() { return program_->app(); }
    const std::vector<ui::RecordingPresenter::Popup>& popups() const { return popups_.popups; }
    // The recorded user's answers to questions and file dialogs.
    ui::RecordingPresenter& presenter() { return popups_; }

    // The window of a panel, by its handle in the application state.
    QWidget* window(int handle) const;
    bool shown(int handle) const;
    template <class W = QWidget>
    W* widget(int handle, const char* constant) const
    {
        QWidget* w = window(handle);
        return w ? w->findChild<W*>(QString::fromLatin1(constant)) : nullptr;
    }
    // What a control shows: a field's text, a ring's item, a switch's checked side.
    QString text(int handle, const char* constant) const;
    bool lit(int handle, const char* constant) const;

    // The main window's link health as shown.
    int main() const;
    QString message() const { return text(main(), "ERROR_COM_MSG"); }
    bool lamp() const { return lit(main(), "ERROR_COMM_LED"); }
    int polls() const { return text(main(), "N_POLLS").toInt(); }
    int validReplies() const { return text(main(), "N_VALID_RESP").toInt(); }

    // Waits until the Polls counter shows at least `n` (a poll cycle ends with it).
    bool waitForPolls(int n, int timeoutMs);
    // Waits until nothing holds or waits for the line: the writes and reads an action queued
    // have ended (the windows answer meanwhile, as they do for the user).
    bool waitForLinkIdle(int timeoutMs = 6000);

    // The user's hands.
    void click(int handle, const char* constant);
    void doubleClick(int handle, const char* constant);
    // Replaces what the field holds with `text`, as typed.
    void type(int handle, const char* constant, const QString& text);
    // The same, then Enter.
    void typeAndEnter(int handle, const char* constant, const QString& text);
    // Presses a switch or slide's side labelled `label`.
    void choose(int handle, const char* constant, const QString& label);
    // Picks the ring item labelled `label` with the keyboard.
    void pickRingItem(int handle, const char* constant, const QString& label);

private:
    ui::RecordingPresenter popups_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<ui::qt::TimerPump> pump_;
};

// The poll request of the program to slave 1: 78 registers from address 0.
inline const char* const kPollFrameHex = "01 03 00 00 00 4E C5 FE";

// The main window's measurement fields in the form the reply carries them, so a case can
// compare what is shown with what a given reply held.
struct ShownMeasurements {
    QString distance, levelMm, levelPercent, temperature, outputMa, frequency;
    bool operator==(const ShownMeasurements&) const = default;
};
ShownMeasurements shownOnMain(const RunningProgram& p);
ShownMeasurements expectedFrom(const Registers& r);
std::ostream& operator<<(std::ostream& os, const ShownMeasurements& m);

}  // namespace vek::e2e
