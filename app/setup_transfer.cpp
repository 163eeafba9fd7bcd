// "Back Up...", "Compare..." and "Restore..." of the two set-up windows.
//
// Each runs as one callback: its exchanges (a read of the 78 registers as the poll reads
// them, writes, readbacks) go through the exchange helper one after another, and the panel
// model holds back the poll timer and whatever the user does until the callback has ended,
// as it does for any write. So no poll can slip between a write and its readback, and a value
// the user chooses meanwhile is written after the restore, where it has the last word.
//
// What a restore may write depends on the window it was started from: the advanced set-up
// sits behind the password, so "Restore..." of "User Set Up" writes the user set-up only and
// names the advanced values that differ; the advanced window's writes both. V0 and Alpha are
// never written.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "setup_backup.h"
#include "vek_app.h"

#ifndef VEK_VERSION
#define VEK_VERSION "unknown"
#endif

namespace vek {

namespace {

constexpr double kReadReplyWait = 1.0;  // the poll's wait: the read is the poll's request
constexpr const char* kFilter = "Set-up backups (*.json);;All files (*)";
// A restore gives up after this many writes in a row that got no reply at all: a line that has
// gone quiet would otherwise cost 2 s a register for nothing.
constexpr int kSilentWritesBeforeGivingUp = 2;
// A backup is about 6 kB; anything much larger was chosen by mistake and is not read whole.
constexpr long long kLargestBackup = 1 << 20;

int panelIdOf(const App& app, int handle)
{
    const ui::Panel* p = app.io.panels.panel(handle);
    return p ? p->id : 0;
}

// The window a button belongs to, when it is one of the set-up windows and the event is its press.
int setupWindowOf(const App& app, int panel, int event)
{
    if (event != EVENT_COMMIT)
        return 0;
    const int id = panelIdOf(app, panel);
    return id == PANEL_4 || id == PANEL_3 ? id : 0;
}

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

// What the link said about the last exchange, for a message.
std::string linkWords(const App& app)
{
    return app.link.commErrorText.empty() ? std::string("-NO RESPONSE-") : app.link.commErrorText;
}

// "MM-DD-YYYY" of the clock as "YYYY-MM-DD", the order that sorts.
std::string isoDate(const App& app)
{
    const std::string d = app.io.DateStr();
    return d.size() == 10 ? d.substr(6, 4) + "-" + d.substr(0, 2) + "-" + d.substr(3, 2) : d;
}

const char* parityName(int selector) { return selector == 1 ? "even" : selector == 2 ? "odd" : "none"; }

// The set-up registers of the image the last valid read left in the link's buffer, with where
// and from what it was read.
SetupBackup imageNow(App& app)
{
    SetupBackup b;
    b.programVersion = VEK_VERSION;
    b.date = isoDate(app);
    b.time = app.io.TimeStr();
    const LinkState& l = app.link;
    b.port.com = l.usPortNumber;
    // The device the read went through (the port is open after it).
    b.port.device = app.io.com.DevicePath(l.usPortNumber);
    if (b.port.device.empty())
        b.port.device = platform::ResolveComPort(l.usPortNumber);
    b.port.baud = BaudRateOf(l.ulBaudRate);
    b.port.parity = parityName(l.usParity);
    b.port.dataBits = l.usNumBits;
    b.port.stopBits = l.usStopBit;
    b.slaveAddress = l.slaveAddress;
    b.modelCode = MB_memory(app, reg::kSensorType);
    b.modelText = SensorText(b.modelCode);
    for (const RegisterEntry* e : SetupEntries())
        for (int i = 0; i < RegisterSpan(*e); ++i)
            b.words[e->reg + i] = static_cast<std::uint16_t>(MB_memory(app, e->reg + i));
    return b;
}

// The set-up windows show what was just read: it is the transmitter's own word.
void showReadback(App& app)
{
    if (app.st.userPanelOpen)
        Read_Variables_2(app);
    if (app.st.advancedPanelOpen)
        Read_Variables_3(app);
}

// Reads the transmitter's set-up; nullopt (with a message saying why and what did not happen)
// when it did not answer.
std::optional<SetupBackup> readTransmitter(App& app, const std::string& title, const std::string& nothingDone)
{
    if (!ReadAllRegisters(app).valid()) {
        app.io.MessagePopup(title,
                            "The transmitter's set-up could not be read (" + linkWords(app) + "). " + nothingDone);
        return std::nullopt;
    }
    showReadback(app);
    return imageNow(app);
}

// Reads and checks the backup file `path`; nullopt after telling the user why it is not used.
std::optional<SetupBackup> loadBackup(App& app, const std::string& title, const std::string& path)
{
    using Result = platform::WholeFile::Result;
    // A pipe or a device is refused before it is opened: reading one to its end could wait forever.
    const platform::WholeFile file = platform::ReadWholeFile(path, kLargestBackup);
    std::string why;
    std::optional<SetupBackup> b;
    switch (file.result) {
    case Result::Read: b = ParseSetupBackup(file.text, why); break;
    case Result::NotRegular: why = "it is " + file.why + ", not a backup file"; break;
    case Result::TooLarge:
        why = "it is far too large to be a set-up backup (" + std::to_string(file.size) + " bytes)";
        break;
    case Result::Unreadable: why = "it cannot be read (" + file.why + ")"; break;
    }
    if (!b)
        app.io.MessagePopup(title, inQuotes(path) + " was not used: " + why + ". Nothing was written.");
    return b;
}

// The item labels of the user set-up's rings and switches as its window shows them, from the
// panel resource (the window itself may be closed).
ItemLabels itemLabels(const App& app)
{
    ItemLabels out;
    std::ifstream in(app.io.panels.resolvePath(kResourceFile), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ui::Panel p;
    if (ui::ParsePanelResource(text.str(), PANEL_4, p) < 0)
        return out;
    for (const ui::Control& c : p.controls)
        for (const ui::RingItem& item : c.items)
            out[{PANEL_4, c.id}][item.value] = item.label;
    return out;
}

void showComparison(App& app, const SetupComparison& c)
{
    if (app.windows)
        app.windows->ShowSetupComparison(c);
}

std::string rowWords(const SetupRow& r) { return "register " + std::to_string(r.reg) + " " + r.name; }

// Why window `window` leaves a differing register alone, or "" when it writes it.
std::string whyNotWritten(const RegisterEntry& e, int window, std::uint16_t value)
{
    if (e.write == WriteBy::Never)
        return "not written: a probe constant, never written";
    if (window == PANEL_4 && e.panelId != PANEL_4)
        return "not written: behind the password (restore it from Advanced Set Up)";
    if (value < e.min || value > e.max)
        return "not written: " + std::to_string(value) + " is outside what it takes (" + std::to_string(e.min) +
               " to " + std::to_string(e.max) + ")";
    return {};
}

bool isLineSetting(int reg) { return reg == reg::kMbParity || reg == reg::kMbBaudRate; }

// After the transmitter took a new parity or baud rate it answers only at that setting: the
// program follows it there (the RS485 Settings window too, unsaved) so the readback and the
// polls reach it.
void followLineSetting(App& app, int reg, std::uint16_t value)
{
    LinkState& l = app.link;
    auto& ui = app.io.panels;
    const ui::Panel* rs = ui.panel(app.st.panelRs485);
    const bool shown = rs && rs->visible;
    if (reg == reg::kMbParity && value <= 2) {
        l.usParity = value;
        if (shown)
            ui.SetCtrlVal(app.st.panelRs485, PANEL_2_PARITY, value);
    } else if (reg == reg::kMbBaudRate && value <= 1) {
        l.ulBaudRate = value == 1 ? 1 : 9600;
        if (shown)
            ui.SetCtrlVal(app.st.panelRs485, PANEL_2_BAUD_RATE, value);
    }
}

struct Step {
    const RegisterEntry* e;
    std::uint16_t value;
    SetupRow* row;
};

// One register: the write, checked by its echo, then a readback of the image. Returns false when
// the write got no reply at all.
bool restoreOne(App& app, const Step& s)
{
    SetupRow& row = *s.row;
    row.state = SetupRow::State::Failed;
    const ExchangeOutcome w = WriteRegister(app, s.e->reg, s.value);
    if (w.result == ExchangeResult::Exception) {
        const std::string name = ExceptionName(w.exceptionCode);
        row.outcome = "refused: exception " + std::to_string(w.exceptionCode) + (name.empty() ? "" : " (" + name + ")");
        return true;
    }
    if (!w.valid()) {
        row.outcome = "not confirmed: no valid echo (" + linkWords(app) + ")";
        return w.result == ExchangeResult::FailedChecks;
    }
    if (isLineSetting(s.e->reg))
        followLineSetting(app, s.e->reg, s.value);
    if (!ReadAllRegisters(app).valid()) {
        row.outcome = "echoed, but the readback failed (" + linkWords(app) + ")";
        return true;
    }
    showReadback(app);
    const std::uint16_t now = static_cast<std::uint16_t>(MB_memory(app, s.e->reg));
    if (now != s.value) {
        row.transmitter = SetupValueText(*s.e, {now});
        row.outcome = "echoed, but reads back " + row.transmitter;
        return true;
    }
    row.transmitter = row.backup;
    row.state = SetupRow::State::Written;
    row.outcome = "written: echo and readback agree";
    return true;
}

std::string listOf(const std::vector<const SetupRow*>& rows, bool withOutcome)
{
    std::string out;
    for (const SetupRow* r : rows)
        out += "\n  " + rowWords(*r) + (withOutcome ? ": " + r->outcome : ": " + r->transmitter + " -> " + r->backup);
    return out;
}

}  // namespace

ExchangeOutcome ReadAllRegisters(App& app)
{
    LinkState& l = app.link;
    if (!LinkPortReady(app))
        return ExchangeResult::NoResponse;
    const std::string openError = OpenLinkPort(app);
    // The poll's own request: registers 1 to 78, so the buffer holds the whole image after it.
    l.ucFuncCod = 3;
    l.ucFuncCodReceived = 3;
    l.usStartAddress = 0;
    l.usNumCoilsRegs = reg::kPolled;
    return ExchangeWithSlave(app, kReadReplyWait, openError);
}

int Back_Up_Setup(App& app, int panel, int /*control*/, int event)
{
    if (!setupWindowOf(app, panel, event))
        return 0;
    const char* title = "Back Up";
    // Named after the transmitter and the day, so backups of several transmitters sort apart.
    const std::string suggested = "setup-slave" + std::to_string(app.link.slaveAddress) + "-" + isoDate(app) + ".json";
    std::string path = app.io.FileSelectPopup("Back up the transmitter's set-up", suggested, kFilter);
    if (path.empty())
        return 0;
    if (std::filesystem::path(path).extension().empty())
        path += ".json";
    long long size = 0;
    if (app.io.files.GetFileInfo(path, &size) == 1 &&
        !app.io.ConfirmPopup(title, inQuotes(path) + " already exists. Replace it?"))
        return 0;
    const auto now = readTransmitter(app, title, "Nothing was saved.");
    if (!now)
        return 0;
    // Written beside the target and then renamed over it, so a failed save never leaves half a
    // backup where a whole one was.
    const std::string text = SetupBackupJson(*now);
    const std::string temp = path + ".part";
    auto& files = app.io.files;
    const int h = files.CVI_OpenFile(temp, platform::FILE_ACCESS_WRITE, platform::FILE_ACTION_TRUNCATE,
                                     platform::FILE_TYPE_BINARY);
    bool ok = h >= 0;
    if (ok) {
        ok = files.CVI_WriteFile(h, text.data(), static_cast<long long>(text.size())) ==
             static_cast<long long>(text.size());
        ok = files.CVI_CloseFile(h) >= 0 && ok;
    }
    std::error_code ec;
    if (ok)
        std::filesystem::rename(temp, path, ec);
    if (!ok || ec) {
        const std::string reason = ec ? ec.message() : files.LastErrorText();
        std::filesystem::remove(temp, ec);
        app.io.MessagePopup("File I/O Error",
                            inQuotes(path) + " could not be written (" + reason + "). Nothing was saved.");
        return 0;
    }
    int registers = 0;
    for (const RegisterEntry* e : SetupEntries())
        registers += RegisterSpan(*e);
    app.io.MessagePopup(title, "The set-up of the " + SetupDescription(*now) + " (" + std::to_string(registers) +
                                   " registers) was saved to " + inQuotes(path) + ".");
    return 0;
}

int Compare_Setup(App& app, int panel, int /*control*/, int event)
{
    if (!setupWindowOf(app, panel, event))
        return 0;
    const char* title = "Compare";
    const std::string path = app.io.FileOpenPopup("Compare a backup with the transmitter", "", kFilter);
    if (path.empty())
        return 0;
    const auto backup = loadBackup(app, title, path);
    if (!backup)
        return 0;
    const auto now = readTransmitter(app, title, "Nothing was compared.");
    if (!now)
        return 0;
    showComparison(app, CompareSetups(*backup, *now, path, itemLabels(app)));
    return 0;
}

int Restore_Setup(App& app, int panel, int /*control*/, int event)
{
    const int window = setupWindowOf(app, panel, event);
    if (!window)
        return 0;
    const char* title = "Restore";
    const std::string path = app.io.FileOpenPopup("Restore a backup to the transmitter", "", kFilter);
    if (path.empty())
        return 0;
    const auto backup = loadBackup(app, title, path);
    if (!backup)
        return 0;
    const auto now = readTransmitter(app, title, "Nothing was written.");
    if (!now)
        return 0;
    SetupComparison c = CompareSetups(*backup, *now, path, itemLabels(app));
    if (backup->modelCode != now->modelCode) {
        app.io.MessagePopup(title, inQuotes(path) + " was made for a " + ModelWords(backup->modelCode) +
                                       "; this transmitter is a " + ModelWords(now->modelCode) +
                                       ". Nothing was written.");
        showComparison(app, c);
        return 0;
    }

    // The plan: every differing register this window may write, the line settings last (once
    // the transmitter has taken them it no longer hears the old ones).
    std::vector<Step> plan;
    std::vector<const SetupRow*> left;
    const auto entries = SetupEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SetupRow& row = c.rows[i];
        if (row.state != SetupRow::State::Differs)
            continue;
        const auto want = backup->wordsOf(*entries[i]);
        if (std::string why = whyNotWritten(*entries[i], window, want[0]); !why.empty()) {
            row.state = SetupRow::State::NotWritten;
            row.outcome = why;
            left.push_back(&row);
            continue;
        }
        plan.push_back({entries[i], want[0], &row});
    }
    std::stable_partition(plan.begin(), plan.end(), [](const Step& s) { return !isLineSetting(s.e->reg); });

    std::vector<const SetupRow*> planned;
    for (const Step& s : plan)
        planned.push_back(s.row);
    const std::string leftText = left.empty() ? "" : "\n\nLeft alone:" + listOf(left, true);
    if (plan.empty()) {
        app.io.MessagePopup(title, "The transmitter already holds every value of " + inQuotes(path) +
                                       " that this window writes. Nothing was written." + leftText);
        showComparison(app, c);
        return 0;
    }
    const bool lineSettings = isLineSetting(plan.back().e->reg);
    if (!app.io.ConfirmPopup(title, "Write " + CountOf(static_cast<long long>(plan.size()), "register", "registers") +
                                        " of the " + SetupDescription(*now) + " from " + inQuotes(path) + "?" +
                                        listOf(planned, false) + leftText +
                                        (lineSettings ? "\n\nThe line settings go last; the program then talks to "
                                                        "the transmitter at its new setting (not saved)."
                                                      : ""))) {
        return 0;
    }

    int silent = 0;
    std::size_t done = 0;
    for (; done < plan.size() && silent < kSilentWritesBeforeGivingUp; ++done)
        silent = restoreOne(app, plan[done]) ? 0 : silent + 1;
    for (std::size_t i = done; i < plan.size(); ++i) {
        plan[i].row->state = SetupRow::State::NotWritten;
        plan[i].row->outcome = "not tried: the transmitter stopped answering";
    }

    std::vector<const SetupRow*> failed;
    int written = 0;
    for (const Step& s : plan) {
        if (s.row->state == SetupRow::State::Written)
            ++written;
        else
            failed.push_back(s.row);
    }
    c.summary = std::to_string(written) + " of " +
                CountOf(static_cast<long long>(plan.size()), "register", "registers") +
                " restored (echoed and read back).";
    if (!failed.empty())
        c.summary += " Not restored: " + std::to_string(failed.size()) + ".";
    app.io.MessagePopup(title,
                        c.summary + (failed.empty() ? "" : "\n\nNot restored:" + listOf(failed, true)) + leftText);
    showComparison(app, c);
    return 0;
}

}  // namespace vek
