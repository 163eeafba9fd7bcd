// "Back Up...", "Compare..." and "Restore..." of the two set-up windows.
//
// Each is a job: its reads and writes wait their turn for the line and hold it while they
// run, so no poll can slip between a write and its readback, while the windows answer and
// show how far it is, with a Cancel that stops it between two registers. A value the user
// chooses meanwhile is written after the restore's writes, where it has the last word.
//
// What a restore may write depends on the window it was started from: the advanced set-up
// sits behind the password, so "Restore..." of "User Set Up" writes the user set-up only and
// names the advanced values that differ; the advanced window's writes both. V0 and Alpha are
// never written.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "job.h"
#include "setup_backup.h"
#include "vek_app.h"

#ifndef VEK_VERSION
#define VEK_VERSION "unknown"
#endif

namespace vek {

namespace {

constexpr double kReadReplyWait = 1.0;  // the poll's window, as the most a read may wait
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

void showProgress(App& app, const std::string& title, const std::string& text, int done, int total)
{
    if (app.windows)
        app.windows->ShowProgress(title, text, done, total);
}

void hideProgress(App& app)
{
    if (app.windows)
        app.windows->HideProgress();
}

// Why a job stopped before its end: "" when it did not.
std::string stoppedWhy(const App& app)
{
    if (app.engine.closing())
        return "the program was closing";
    return app.engine.cancelRequested() ? "cancelled" : "";
}

// Reads the transmitter's set-up in its turn for the line; nullopt (with a message saying why
// and what did not happen) when it did not answer or the user cancelled.
Async<std::optional<SetupBackup>> readTransmitter(App& app, std::string title, std::string nothingDone)
{
    ExchangeOutcome read;
    std::string stopped;
    showProgress(app, title, "Reading the transmitter's set-up", 0, 1);
    {
        auto lease = co_await app.engine.Acquire();
        stopped = stoppedWhy(app);
        if (lease && stopped.empty())
            read = co_await ReadAllRegisters(app);
    }
    hideProgress(app);
    if (!stopped.empty()) {
        if (!app.engine.closing())
            app.io.MessagePopup(title, "Cancelled before the transmitter was read. " + nothingDone);
        co_return std::nullopt;
    }
    if (!read.valid()) {
        app.io.MessagePopup(title,
                            "The transmitter's set-up could not be read (" + linkWords(app) + "). " + nothingDone);
        co_return std::nullopt;
    }
    showReadback(app);
    co_return imageNow(app);
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

// The item labels of the set-up windows' rings and switches as the windows show them, from the
// panel resource (the windows themselves may be closed).
ItemLabels itemLabels(const App& app)
{
    ItemLabels out;
    std::ifstream in(app.io.panels.resolvePath(kResourceFile), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    for (int window : {PANEL_4, PANEL_3}) {
        ui::Panel p;
        if (ui::ParsePanelResource(text.str(), window, p) < 0)
            continue;
        for (const ui::Control& c : p.controls)
            for (const ui::RingItem& item : c.items)
                out[{window, c.id}][item.value] = item.label;
    }
    return out;
}

void showComparison(App& app, const SetupComparison& c)
{
    if (app.windows)
        app.windows->ShowSetupComparison(c);
}

std::string rowWords(const SetupRow& r) { return "register " + std::to_string(r.reg) + " " + r.name; }

// "0 No Parity, 1 Even Parity, 2 Odd Parity".
std::string choicesText(const std::map<long long, std::string>& items)
{
    std::string out;
    for (const auto& [value, label] : items)
        out += (out.empty() ? "" : ", ") + std::to_string(value) + " " + label;
    return out;
}

// Why window `window` leaves a differing register alone, or "" when it writes it. A value is
// written only when the register's own control would send it: one of a ring's or switch's
// items, a character the one-character dialog takes, a number within the write dialog's range.
// A transmitter given a baud code it has no speed for could go silent for good.
std::string whyNotWritten(const RegisterEntry& e, int window, std::uint16_t value, const ItemLabels& items)
{
    if (e.write == WriteBy::Never)
        return "not written: a probe constant, never written";
    if (window == PANEL_4 && e.panelId == PANEL_3)
        return "not written: behind the password (restore it from Advanced Set Up)";
    const std::string v = std::to_string(value);
    if (e.write == WriteBy::AtOnce) {
        const auto ctrl = items.find({e.panelId, e.ctrl});
        if (ctrl == items.end())
            return "not written: its choices could not be read from the panel resource";
        if (!ctrl->second.count(value))
            return "not written: " + v + " is none of its choices (" + choicesText(ctrl->second) + ")";
        return {};
    }
    if (e.write == WriteBy::CharacterDialog && value != 0 && (value < ' ' || value > '~'))
        return "not written: " + v + " is not a character its dialog takes (a printable one, or none)";
    if (value < e.min || value > e.max)
        return "not written: " + v + " is outside what it takes (" + std::to_string(e.min) + " to " +
               std::to_string(e.max) + ")";
    return {};
}

bool isLineSetting(int reg) { return reg == reg::kMbParity || reg == reg::kMbBaudRate; }

// What belongs to the unit rather than to the application: the current output's calibration,
// a probe constant and the slave address. A restore copies them only when the user ticks them.
const char* unitsOwn(int reg)
{
    switch (reg) {
    case reg::kDac4mA:
    case reg::kDac20mA: return "the current output's calibration";
    case reg::kEpot20C: return "a constant of its probe";
    case reg::kUid: return "its slave address";
    default: return nullptr;
    }
}

// The order of the writes: the application's set-up first, then the address, then the line
// settings. Once the transmitter has taken a new address or line setting it no longer hears
// the old one, so nothing else may come after them.
int writeStage(int reg) { return isLineSetting(reg) ? 2 : reg == reg::kUid ? 1 : 0; }

// After the transmitter took a new parity, baud rate or address it answers only there: the
// program follows it (the RS485 Settings window and the main window's address too, unsaved)
// so the readback and the polls reach it.
void followTransmitter(App& app, int reg, std::uint16_t value)
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
    } else if (reg == reg::kUid && value >= 1 && value <= 247) {
        l.slaveAddress = value;
        ui.SetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, value);
    }
}

struct Step {
    const RegisterEntry* e;
    std::uint16_t value;
    std::size_t row;  // index into the comparison's rows
};

// One restore under way: the comparison it fills in, and every readback taken on the way.
struct Restore {
    App& app;
    const SetupBackup& backup;
    const std::string& path;
    const ItemLabels& items;
    SetupComparison& c;

    // Reads registers back (all 78, or the `count` from register `first`) into the image; on
    // success every row shows what the transmitter held at its latest read.
    Async<bool> readBack(int first = 1, int count = reg::kPolled)
    {
        if (!(co_await ReadRegisters(app, first, count)).valid())
            co_return false;
        showReadback(app);
        const SetupComparison fresh = CompareSetups(backup, imageNow(app), path, items);
        const auto entries = SetupEntries();
        for (std::size_t i = 0; i < c.rows.size() && i < fresh.rows.size() && i < entries.size(); ++i) {
            // Only the rows this read covered: the others keep what they last showed, which may
            // be "not read back".
            const int reg = entries[i]->reg, span = RegisterSpan(*entries[i]);
            if (reg + span <= first || reg >= first + count)
                continue;
            c.rows[i].transmitter = fresh.rows[i].transmitter;
            sameNow[i] = fresh.rows[i].state == SetupRow::State::Same;
        }
        co_return true;
    }

    // One register: the write, checked by its echo, then a readback of that register. Returns
    // false when the write got no reply at all.
    Async<bool> restoreOne(const Step& s)
    {
        SetupRow& row = c.rows[s.row];
        row.state = SetupRow::State::Failed;
        const ExchangeOutcome w = co_await WriteRegister(app, s.e->reg, s.value);
        if (w.result == ExchangeResult::Exception) {
            const std::string name = ExceptionName(w.exceptionCode);
            row.outcome =
                "refused: exception " + std::to_string(w.exceptionCode) + (name.empty() ? "" : " (" + name + ")");
            co_return true;
        }
        if (!w.valid()) {
            // The value may have landed all the same: until a readback says, nothing is known.
            row.transmitter = kNotReadBack;
            row.outcome = "not confirmed: no valid echo (" + linkWords(app) + ")";
            co_return w.result == ExchangeResult::FailedChecks;
        }
        followTransmitter(app, s.e->reg, s.value);
        if (app.engine.closing()) {
            // Nothing more goes out once the program is closing, not even this readback.
            row.transmitter = kNotReadBack;
            row.outcome = "echoed, not read back: the program was closing";
            co_return true;
        }
        if (!co_await readBack(s.e->reg, RegisterSpan(*s.e))) {
            row.transmitter = kNotReadBack;
            row.outcome = "echoed, but the readback failed (" + linkWords(app) + ")";
            co_return true;
        }
        if (!sameNow[s.row]) {
            row.outcome = "echoed, but reads back " + row.transmitter;
            co_return true;
        }
        row.state = SetupRow::State::Written;
        row.outcome = "written: echo and readback agree";
        co_return true;
    }

    // After the last write one more read of all 78, so each row shows what the transmitter
    // holds after the restore, not what it held before. A row whose write was not confirmed
    // stays so, whatever it reads back now: the transmitter did not answer that write as it
    // should.
    Async<bool> settle(const std::vector<Step>& plan)
    {
        if (!co_await readBack())
            co_return false;  // the rows that could have changed say "not read back"
        // The full read has the last word: a register whose own readback agreed but which reads
        // otherwise now is not restored (a one-register reply is alike for every register, so
        // one that came late could have passed for another's).
        for (const Step& s : plan) {
            SetupRow& row = c.rows[s.row];
            if (row.state == SetupRow::State::Written && !sameNow[s.row]) {
                row.state = SetupRow::State::Failed;
                row.outcome = "echoed and read back, but the read after the restore shows " + row.transmitter;
            }
        }
        co_return true;
    }

    static constexpr const char* kNotReadBack = "(not read back since the write)";
    std::vector<bool> sameNow = std::vector<bool>(c.rows.size(), false);
};

std::string listOf(const std::vector<const SetupRow*>& rows, bool withOutcome)
{
    std::string out;
    for (const SetupRow* r : rows)
        out += "\n  " + rowWords(*r) + (withOutcome ? ": " + r->outcome : ": " + r->transmitter + " -> " + r->backup);
    return out;
}

}  // namespace

Async<ExchangeOutcome> ReadRegisters(App& app, int first, int count)
{
    if (!LinkPortReady(app))
        co_return ExchangeResult::NoResponse;
    const std::string openError = OpenLinkPort(app);
    // The poll's own request for all 78, or just the registers asked for. It ends as soon as
    // the reply is in, 1 s at most.
    const RtuResult r = co_await ExchangeWithSlave(
        app,
        [&app, first, count](LinkState& l, MasterIo& io, int port) {
            return StartReadHoldingRegisters(l, io, port, static_cast<std::uint8_t>(l.slaveAddress),
                                             static_cast<std::uint16_t>(first - 1), static_cast<std::uint16_t>(count),
                                             ReplyWaitOf(app, kReadReplyWait));
        },
        openError);
    co_return r.outcome;
}

Async<ExchangeOutcome> ReadAllRegisters(App& app) { return ReadRegisters(app, 1, reg::kPolled); }

namespace {

Job backUp(App& app)
{
    const char* title = "Back Up";
    // Named after the transmitter and the day, so backups of several transmitters sort apart.
    const std::string suggested = "setup-slave" + std::to_string(app.link.slaveAddress) + "-" + isoDate(app) + ".json";
    std::string path = app.io.FileSelectPopup("Back up the transmitter's set-up", suggested, kFilter);
    if (path.empty())
        co_return;
    if (std::filesystem::path(path).extension().empty())
        path += ".json";
    long long size = 0;
    if (app.io.files.GetFileInfo(path, &size) == 1 &&
        !app.io.ConfirmPopup(title, inQuotes(path) + " already exists. Replace it?"))
        co_return;
    app.engine.ClearCancel();
    const auto now = co_await readTransmitter(app, title, "Nothing was saved.");
    if (!now)
        co_return;
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
        co_return;
    }
    int registers = 0;
    for (const RegisterEntry* e : SetupEntries())
        registers += RegisterSpan(*e);
    app.io.MessagePopup(title, "The set-up of the " + SetupDescription(*now) + " (" + std::to_string(registers) +
                                   " registers) was saved to " + inQuotes(path) + ".");
    }

Job compare(App& app)
{
    const char* title = "Compare";
    const std::string path = app.io.FileOpenPopup("Compare a backup with the transmitter", "", kFilter);
    if (path.empty())
        co_return;
    const auto backup = loadBackup(app, title, path);
    if (!backup)
        co_return;
    app.engine.ClearCancel();
    const auto now = co_await readTransmitter(app, title, "Nothing was compared.");
    if (!now)
        co_return;
    showComparison(app, CompareSetups(*backup, *now, path, itemLabels(app)));
    }

Job restore(App& app, int window)
{
    const char* title = "Restore";
    const std::string path = app.io.FileOpenPopup("Restore a backup to the transmitter", "", kFilter);
    if (path.empty())
        co_return;
    const auto backup = loadBackup(app, title, path);
    if (!backup)
        co_return;
    app.engine.ClearCancel();
    const auto now = co_await readTransmitter(app, title, "Nothing was written.");
    if (!now)
        co_return;
    SetupComparison c = CompareSetups(*backup, *now, path, itemLabels(app));
    if (backup->modelCode != now->modelCode) {
        app.io.MessagePopup(title, inQuotes(path) + " was made for a " + ModelWords(backup->modelCode) +
                                       "; this transmitter is a " + ModelWords(now->modelCode) +
                                       ". Nothing was written.");
        showComparison(app, c);
        co_return;
    }

    // The plan: every differing register this window may write, in the order writeStage gives.
    // The unit's own registers are offered, not planned: they are written only when ticked.
    const ItemLabels items = itemLabels(app);
    std::vector<Step> plan, offered;
    std::vector<const SetupRow*> left;
    const auto entries = SetupEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SetupRow& row = c.rows[i];
        if (row.state == SetupRow::State::NotWritten)
            left.push_back(&row);  // not in the backup
        if (row.state != SetupRow::State::Differs)
            continue;
        const std::uint16_t want = backup->wordsOf(*entries[i])[0];
        if (std::string why = whyNotWritten(*entries[i], window, want, items); !why.empty()) {
            row.state = SetupRow::State::NotWritten;
            row.outcome = why;
            left.push_back(&row);
            continue;
        }
        (unitsOwn(entries[i]->reg) ? offered : plan).push_back({entries[i], want, i});
    }

    const std::string leftText = left.empty() ? "" : "\n\nLeft alone:" + listOf(left, true);
    if (plan.empty() && offered.empty()) {
        app.io.MessagePopup(title, "The transmitter already holds every value of " + inQuotes(path) +
                                       " that this window writes. Nothing was written." + leftText);
        showComparison(app, c);
        co_return;
    }
    std::vector<const SetupRow*> planned;
    for (const Step& s : plan)
        planned.push_back(&c.rows[s.row]);
    const bool lineSettings =
        std::any_of(plan.begin(), plan.end(), [](const Step& s) { return isLineSetting(s.e->reg); });
    const std::string question =
        (plan.empty() ? "Nothing of the application's set-up differs."
                      : "Write " + CountOf(static_cast<long long>(plan.size()), "register", "registers") + " of the " +
                            SetupDescription(*now) + " from " + inQuotes(path) + "?") +
        listOf(planned, false) + leftText +
        (lineSettings ? "\n\nThe line settings go last; the program then talks to the transmitter at its new "
                        "setting (not saved)."
                      : "");
    bool yes = false;
    if (offered.empty()) {
        yes = app.io.ConfirmPopup(title, question);
    } else {
        std::vector<std::string> options;
        for (const Step& s : offered) {
            const SetupRow& r = c.rows[s.row];
            options.push_back(rowWords(r) + ": " + r.transmitter + " -> " + r.backup + " (" + unitsOwn(r.reg) + ")");
        }
        std::vector<bool> ticked;
        yes = app.io.ConfirmWithOptions(
            title,
            question +
                "\n\nThese differ too, but belong to the unit itself. Tick one only to copy it from the "
                "backup:",
            options,
            "The ticked values belong to the transmitter the backup was made from (" + backup->modelText +
                " at slave address " + std::to_string(backup->slaveAddress) + ", backed up " + backup->date +
                "). Copied to another unit, its current output, probe or address may be wrong.",
            ticked);
        for (std::size_t i = 0; i < offered.size(); ++i) {
            if (yes && i < ticked.size() && ticked[i]) {
                plan.push_back(offered[i]);
                continue;
            }
            SetupRow& r = c.rows[offered[i].row];
            r.state = SetupRow::State::NotWritten;
            r.outcome = std::string("not written: ") + unitsOwn(r.reg) + " of this unit, not ticked";
            left.push_back(&r);
        }
    }
    if (!yes)
        co_return;
    std::stable_sort(plan.begin(), plan.end(),
                     [](const Step& a, const Step& b) { return writeStage(a.e->reg) < writeStage(b.e->reg); });
    if (plan.empty()) {
        app.io.MessagePopup(title, "Nothing was ticked, and nothing else differs. Nothing was written.");
        showComparison(app, c);
        co_return;
    }

    Restore run{app, *backup, path, items, c};
    int silent = 0;
    std::size_t done = 0;
    std::string stopped;
    {
        auto lease = co_await app.engine.Acquire();
        for (; lease && done < plan.size() && silent < kSilentWritesBeforeGivingUp; ++done) {
            // A cancel stops the restore between two registers, never inside one.
            if (stopped = stoppedWhy(app); !stopped.empty())
                break;
            const SetupRow& row = c.rows[plan[done].row];
            showProgress(app, title,
                         "Writing " + rowWords(row) + " (" + std::to_string(done + 1) + " of " +
                             std::to_string(plan.size()) + ")",
                         static_cast<int>(done), static_cast<int>(plan.size()) + 1);
            silent = co_await run.restoreOne(plan[done]) ? 0 : silent + 1;
        }
        if (!lease)
            stopped = "the program was closing";
        for (std::size_t i = done; i < plan.size(); ++i) {
            c.rows[plan[i].row].state = SetupRow::State::NotWritten;
            c.rows[plan[i].row].outcome =
                stopped.empty() ? "not tried: the transmitter stopped answering" : "not written: " + stopped;
        }
        // Nothing more goes out once the program is closing.
        if (lease && !app.engine.closing()) {
            showProgress(app, title, "Reading the transmitter back", static_cast<int>(plan.size()),
                         static_cast<int>(plan.size()) + 1);
            co_await run.settle(plan);
        }
    }
    hideProgress(app);

    std::vector<const SetupRow*> failed, notTried;
    int written = 0;
    for (const Step& s : plan) {
        const SetupRow& row = c.rows[s.row];
        if (row.state == SetupRow::State::Written)
            ++written;
        else if (row.state == SetupRow::State::NotWritten)
            notTried.push_back(&row);
        else
            failed.push_back(&row);
    }
    c.summary = std::to_string(written) + " of " +
                CountOf(static_cast<long long>(plan.size()), "register", "registers") +
                " restored (echoed and read back).";
    if (!stopped.empty())
        c.summary = "Restore stopped (" + stopped + "): " + c.summary;
    if (!failed.empty())
        c.summary += " Not restored: " + std::to_string(failed.size()) + ".";
    if (!notTried.empty() && !stopped.empty())
        c.summary += " Not written: " + std::to_string(notTried.size()) + ".";
    const std::string leftAfter = left.empty() ? "" : "\n\nLeft alone:" + listOf(left, true);
    std::vector<const SetupRow*> unwritten = failed;
    unwritten.insert(unwritten.end(), notTried.begin(), notTried.end());
    const std::string report =
        c.summary + (unwritten.empty() ? "" : "\n\nNot restored:" + listOf(unwritten, true)) + leftAfter;
    if (app.engine.closing()) {
        // No window is left to say it in: the program's output says it.
        std::cerr << title << ": " << report << '\n';
        co_return;
    }
    app.io.MessagePopup(title, report);
    showComparison(app, c);
}

}  // namespace

int Back_Up_Setup(App& app, int panel, int /*control*/, int event)
{
    if (setupWindowOf(app, panel, event))
        backUp(app);
    return 0;
}

int Compare_Setup(App& app, int panel, int /*control*/, int event)
{
    if (setupWindowOf(app, panel, event))
        compare(app);
    return 0;
}

int Restore_Setup(App& app, int panel, int /*control*/, int event)
{
    if (const int window = setupWindowOf(app, panel, event))
        restore(app, window);
    return 0;
}

}  // namespace vek
