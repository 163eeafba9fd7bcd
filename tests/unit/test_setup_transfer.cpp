// Back Up, Compare and Restore against the in-memory transmitter: what goes on the line, what
// lands in the transmitter, what the technician is told, and what nothing must do.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app_rig.h"
#include "cwd_guard.h"
#include "in_child.h"
#include "setup_backup.h"

using namespace vek;
using namespace vek::test;
using ui::Value;

namespace {

using Bytes = std::vector<std::uint8_t>;
using W = std::vector<std::pair<int, int>>;

struct SetupTransfer : TransmitterTest {
    CwdGuard cwd;
    RecordingToolWindows windows;
    const std::string file = "tank-7.json";

    void SetUp() override
    {
        TransmitterTest::SetUp();
        app.windows = &windows;
        // A commissioned transmitter: a few values off their zeroes, V0 and a configuration index.
        r.regs[reg::kSensorType - 1] = 0x11;
        r.regs[reg::kMedium - 1] = 4;
        r.regs[reg::kRl1ThVal - 1] = 1200;
        r.regs[reg::kCyclesNum - 1] = 812;
        r.regs[reg::kDac4mA - 1] = 2100;
        r.setFloat(reg::kV0, 0.3313f);
        for (int i = 0; i < 8; ++i)
            r.regs[reg::kConfigIndex1 - 1 + i] = static_cast<std::uint16_t>("TANK-B07"[i]);
    }
    void press(int panel, int ctrl)
    {
        r.popups.popups.clear();
        r.com.frames.clear();
        panels.PostEvent(panel, ctrl, EVENT_COMMIT);
    }
    void backUpFrom(int panel, int ctrl)
    {
        r.popups.fileAnswer = file;
        press(panel, ctrl);
    }
    void restoreFrom(int panel, int ctrl, bool confirm = true)
    {
        r.popups.fileAnswer = file;
        r.popups.confirmAnswer = confirm;
        press(panel, ctrl);
    }
    // Every function-6 request sent since the last press, as (register counted from 1, value).
    W writes() const
    {
        W out;
        for (const Bytes& f : r.com.frames)
            if (f.size() == 8 && f[1] == 6)
                out.emplace_back(((f[2] << 8) | f[3]) + 1, (f[4] << 8) | f[5]);
        return out;
    }
    const SetupRow& row(int reg) const
    {
        static const SetupRow none;
        if (windows.comparisons.empty())
            return none;
        for (const SetupRow& x : windows.comparisons.back().rows)
            if (x.reg == reg)
                return x;
        return none;
    }
    std::string allPopups() const
    {
        std::string s;
        for (const auto& p : r.popups.popups)
            s += p.title + ": " + p.text + "\n";
        return s;
    }
    std::string fileText() const
    {
        std::ifstream in(file);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The transmitter changed since the backup: three user and two advanced values.
    void changeTransmitter()
    {
        r.regs[reg::kMedium - 1] = 8;
        r.regs[reg::kRl1ThVal - 1] = 900;
        r.regs[reg::kCyclesNum - 1] = 700;
        r.regs[reg::kConfigIndex1 + 5 - 1] = 'X';  // register 34, 'B' of "TANK-B07"
        r.setFloat(reg::kV0, 0.5f);
    }
};

TEST_F(SetupTransfer, BackUpReadsTheTransmitterOnceAndSavesEveryRegisterItHolds)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    ASSERT_EQ(r.com.frames, (std::vector<Bytes>{expectedPoll(1)})) << "one read, the poll's own request";
    std::string why;
    const auto b = ParseSetupBackup(fileText(), why);
    ASSERT_TRUE(b) << why << allPopups();
    for (const RegisterEntry* e : SetupEntries())
        for (int i = 0; i < RegisterSpan(*e); ++i)
            EXPECT_EQ(b->words.at(e->reg + i), r.regs[e->reg + i - 1]) << e->reg + i;
    EXPECT_EQ(b->modelCode, 0x11);
    EXPECT_EQ(b->slaveAddress, 1);
    EXPECT_EQ(b->date, "2016-03-15") << "the virtual clock's day";
    EXPECT_NE(r.popupText(1).find("49 registers"), std::string::npos) << allPopups();
    EXPECT_EQ(r.popups.popups[0].text, "setup-slave1-2016-03-15.json") << "the name the dialog suggests";
    EXPECT_FALSE(std::filesystem::exists(file + ".part"));
}

TEST_F(SetupTransfer, BackUpWithoutAnAnswerOrWithoutConsentToReplaceSavesNothing)
{
    const int user = r.openUser();
    r.answering = false;
    backUpFrom(user, PANEL_4_BACKUP);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_NE(allPopups().find("could not be read (-NO RESPONSE-). Nothing was saved."), std::string::npos)
        << allPopups();

    r.answering = true;
    std::ofstream(file) << "keep me";
    r.popups.confirmAnswer = false;
    backUpFrom(user, PANEL_4_BACKUP);
    EXPECT_EQ(fileText(), "keep me");
    EXPECT_TRUE(r.com.frames.empty()) << "declined before anything was asked of the transmitter";
}

TEST_F(SetupTransfer, RestoreWritesExactlyTheChangedRegistersEachCheckedByEchoAndReadback)
{
    const int adv = r.openAdvanced();
    backUpFrom(adv, PANEL_3_BACKUP);
    const std::vector<std::uint16_t> before = r.regs;
    changeTransmitter();
    restoreFrom(adv, PANEL_3_RESTORE);

    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}, {27, 812}, {34, 'B'}})) << allPopups();
    // The first read, then each write followed by the readback of its register, nothing else
    // between them, and a last read of all 78.
    const std::vector<Bytes> line = {expectedPoll(1),        expectedWrite(1, 44, 4),
                                     expectedRead(1, 44, 1), expectedWrite(1, 70, 1200),
                                     expectedRead(1, 70, 1), expectedWrite(1, 27, 812),
                                     expectedRead(1, 27, 1), expectedWrite(1, 34, 'B'),
                                     expectedRead(1, 34, 1), expectedPoll(1)};
    EXPECT_EQ(r.com.frames, line);
    for (int reg : {44, 70, 27, 34}) {
        EXPECT_EQ(row(reg).state, SetupRow::State::Written) << reg;
        EXPECT_EQ(r.regs[reg - 1], before[reg - 1]) << reg;
    }
    EXPECT_EQ(row(reg::kV0).state, SetupRow::State::NotWritten) << "V0 is never written";
    EXPECT_NE(row(reg::kV0).outcome.find("never written"), std::string::npos);
    EXPECT_EQ(row(reg::kMaxGainTh).state, SetupRow::State::Same);
    EXPECT_NE(r.popups.popups.back().text.find("4 of 4 registers restored"), std::string::npos) << allPopups();
    // The confirmation named each register with its old and new value.
    EXPECT_NE(allPopups().find("register 70 RL1 TH Value: 900 -> 1200"), std::string::npos) << allPopups();

    // Nothing left behind: the next poll is the usual one and decodes as usual.
    r.com.frames.clear();
    r.tick();
    EXPECT_EQ(r.com.frames, (std::vector<Bytes>{expectedPoll(1)}));
    EXPECT_EQ(r.mainMessage(), "");
}

TEST_F(SetupTransfer, RestoreFromUserSetUpLeavesThePasswordProtectedRegistersAlone)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    restoreFrom(user, PANEL_4_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}}));
    EXPECT_EQ(row(reg::kCyclesNum).state, SetupRow::State::NotWritten);
    EXPECT_NE(row(reg::kCyclesNum).outcome.find("behind the password"), std::string::npos);
    EXPECT_EQ(r.regs[reg::kCyclesNum - 1], 700);
    EXPECT_NE(r.popupText(1).find("Left alone"), std::string::npos) << "the confirmation says so: " << allPopups();
}

TEST_F(SetupTransfer, ARefusedRegisterIsReportedOnItsRowAndTheRestAreStillWritten)
{
    const int adv = r.openAdvanced();
    backUpFrom(adv, PANEL_3_BACKUP);
    changeTransmitter();
    r.refused = {70};
    r.forgets = {27};  // echoes, but keeps its old value
    restoreFrom(adv, PANEL_3_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}, {27, 812}, {34, 'B'}}));
    EXPECT_EQ(row(70).state, SetupRow::State::Failed);
    EXPECT_EQ(row(70).outcome, "refused: exception 2 (Illegal data address)");
    EXPECT_EQ(row(27).state, SetupRow::State::Failed);
    EXPECT_EQ(row(27).outcome, "echoed, but reads back 700") << "an echo alone is not success";
    EXPECT_EQ(row(44).state, SetupRow::State::Written);
    EXPECT_EQ(row(34).state, SetupRow::State::Written);
    const std::string summary = r.popups.popups.back().text;
    EXPECT_NE(summary.find("2 of 4 registers restored"), std::string::npos) << summary;
    EXPECT_NE(summary.find("register 70 RL1 TH Value: refused"), std::string::npos) << summary;
}

TEST_F(SetupTransfer, AnEchoThatIsNotTheRequestIsNotSuccessEvenIfTheValueLandedAndTheRestGoOn)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        if (f.size() == 8 && f[1] == 6 && f[3] == 44 - 1) {
            r.regs[43] = static_cast<std::uint16_t>((f[4] << 8) | f[5]);
            Bytes echo(f.begin(), f.begin() + 6);
            echo[5] ^= 1;  // another value in the echo
            r.com.injectAfter(port, r.replyDelay, AppRig::withCrc(echo));
            return;
        }
        answer(port, f);
    };
    restoreFrom(user, PANEL_4_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}}));
    EXPECT_EQ(row(44).state, SetupRow::State::Failed);
    EXPECT_EQ(row(44).outcome, "not confirmed: no valid echo (-BYTESNUM-)");
    EXPECT_EQ(row(70).state, SetupRow::State::Written);
    EXPECT_NE(r.popups.popups.back().text.find("1 of 2 registers restored"), std::string::npos);
}

TEST_F(SetupTransfer, ATransmitterThatFallsSilentStopsTheRestoreAndNothingCountsAsWritten)
{
    const int adv = r.openAdvanced();
    backUpFrom(adv, PANEL_3_BACKUP);
    changeTransmitter();
    int seen = 0;
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        if (++seen <= 3)  // the first read, the first write and its readback
            answer(port, f);
    };
    restoreFrom(adv, PANEL_3_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}, {27, 812}})) << "two silent writes, then it stops";
    EXPECT_EQ(row(44).state, SetupRow::State::Written);
    EXPECT_EQ(row(70).state, SetupRow::State::Failed);
    EXPECT_NE(row(70).outcome.find("-NO RESPONSE-"), std::string::npos);
    EXPECT_EQ(row(34).state, SetupRow::State::NotWritten);
    EXPECT_NE(row(34).outcome.find("stopped answering"), std::string::npos);
    EXPECT_NE(r.popups.popups.back().text.find("1 of 4 registers restored"), std::string::npos);
}

TEST_F(SetupTransfer, ForeignDamagedOrOtherModelFilesAndADeclinedConfirmationWriteNothing)
{
    const int adv = r.openAdvanced();
    backUpFrom(adv, PANEL_3_BACKUP);
    const std::string good = fileText();
    changeTransmitter();
    const auto typed = [&](const std::string& from, const std::string& to) {
        const auto at = good.find(from);
        return at == std::string::npos ? std::string() : std::string(good).replace(at, from.size(), to);
    };
    enum Kind { Text, Missing, Pipe, Folder, Device };
    const struct {
        const char* what;
        Kind kind;
        std::string text;
        const char* said;
    } files[] = {
        {"foreign", Text, "{\"registers\": {\"11\": 4500}}", "not a set-up backup"},
        {"damaged", Text, good.substr(0, good.size() - 40), "damaged"},
        {"missing", Missing, "", "cannot be read (No such file or directory)"},
        {"huge", Text, std::string(2 << 20, ' '), "far too large"},
        {"a port as text", Text, typed("\"com\": 1,", "\"com\": \"COM1\","), "\"port.com\" should be a whole number"},
        {"a baud rate as text", Text, typed("\"baud\": 9600,", "\"baud\": \"9600\","), "\"port.baud\" should be"},
        {"data bits as text", Text, typed("\"dataBits\": 8,", "\"dataBits\": \"8\","), "\"port.dataBits\" should"},
        {"no port", Text, typed("\"port\": {", "\"harbour\": {"), "\"port\" is missing"},
        {"nested 300000 deep", Text, "{\"format\": " + std::string(300000, '[') + std::string(300000, ']') + "}",
         "nests deeper than 64 levels"},
        {"a named pipe", Pipe, "", "it is a named pipe, not a backup file"},
        {"a folder", Folder, "", "it is a folder, not a backup file"},
        {"a device", Device, "", "it is a character device, not a backup file"},
    };
    // Compare and Restore each: a reader that waited on the pipe or the device would hang, so
    // a watchdog ends the child that runs them.
    const int status = inChildWithin(20, [&] {
        for (const auto& f : files) {
            std::filesystem::remove(file);
            if (f.kind == Text)
                std::ofstream(file) << f.text;
            else if (f.kind == Pipe)
                ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
            else if (f.kind == Folder)
                std::filesystem::create_directory(file);
            const std::string path = f.kind == Device ? "/dev/zero" : file;
            for (int button : {PANEL_3_COMPARE, PANEL_3_RESTORE}) {
                r.popups.fileAnswer = path;
                r.popups.confirmAnswer = true;
                press(adv, button);
                EXPECT_TRUE(r.com.frames.empty()) << f.what << ": not even a read";
                ASSERT_EQ(r.popups.popups.size(), 2u) << f.what << ": " << allPopups();
                EXPECT_EQ(r.popupText(1).rfind("\"" + path + "\" was not used: ", 0), 0u) << allPopups();
                EXPECT_NE(r.popupText(1).find(f.said), std::string::npos) << f.what << ": " << allPopups();
                EXPECT_NE(r.popupText(1).find(". Nothing was written."), std::string::npos) << f.what;
            }
            std::filesystem::remove(file);
        }
        EXPECT_TRUE(windows.comparisons.empty()) << "nothing was compared";
    });
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "Compare or Restore waited on a file" : "see above");
    EXPECT_EQ(r.regs[reg::kMedium - 1], 8) << "nothing was written";

    std::ofstream(file) << good;
    r.regs[reg::kSensorType - 1] = 0x12;
    restoreFrom(adv, PANEL_3_RESTORE);
    EXPECT_TRUE(writes().empty());
    EXPECT_NE(
        r.popupText(1).find("made for a Gauge 5m (model code 17); this transmitter is a Gauge 8m (model code 18)"),
        std::string::npos)
        << allPopups();

    r.regs[reg::kSensorType - 1] = 0x11;
    restoreFrom(adv, PANEL_3_RESTORE, false);
    EXPECT_TRUE(writes().empty()) << "the user said no";
    EXPECT_EQ(r.regs[reg::kMedium - 1], 8);
}

TEST_F(SetupTransfer, LineSettingsGoLastAndTheProgramFollowsTheTransmitterToThem)
{
    const int user = r.openUser();
    r.regs[reg::kMbBaudRate - 1] = 1;
    r.regs[reg::kMbParity - 1] = 2;
    backUpFrom(user, PANEL_4_BACKUP);
    r.regs[reg::kMbBaudRate - 1] = 0;
    r.regs[reg::kMbParity - 1] = 0;
    r.regs[reg::kMedium - 1] = 6;
    restoreFrom(user, PANEL_4_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {75, 1}, {74, 2}}));
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 2);
    EXPECT_EQ(r.com.opens.back().baud, 19200) << "the last readback went out at the new setting";
    EXPECT_EQ(r.com.opens.back().parity, platform::RS_PARITY_ODD);
    EXPECT_NE(r.popupText(1).find("new setting"), std::string::npos) << allPopups();
}

TEST_F(SetupTransfer, WhatTheUserDoesDuringARestoreWaitsForItAndThenHasTheLastWord)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    // Inside the first write's echo wait the user picks "Solid" and presses Quit; the poll
    // timer falls due too.
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        r.replyDelay = f[1] == 6 ? 1.8 : 0.05;  // slow echoes, quick reads
        answer(port, f);
    };
    r.clock.advanceTo(panels.nextTimerDue() - 0.5);
    const double t0 = r.clock.now();
    r.clock.schedule(t0 + 1.5, [&] {
        panels.UserSetValue(user, PANEL_4_MEDIUM, Value(6LL));
        panels.PostEvent(user, PANEL_4_USCITA, EVENT_COMMIT);
    });
    r.popups.fileAnswer = file;
    r.popups.confirmAnswer = true;
    r.com.frames.clear();
    panels.PostEvent(user, PANEL_4_RESTORE, EVENT_COMMIT);
    ASSERT_GT(r.clock.now(), panels.nextTimerDue()) << "the poll fell due during the restore";
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}, {44, 6}})) << "the restore's writes, then the user's choice";
    ASSERT_GE(r.com.frames.size(), 3u);
    EXPECT_EQ(r.com.frames[2], expectedRead(1, 44, 1)) << "the readback came right after its write";
    EXPECT_EQ(r.regs[reg::kMedium - 1], 6) << "the user's choice stands";
    EXPECT_EQ(panels.panel(user), nullptr) << "then the window closed";
    EXPECT_EQ(row(44).state, SetupRow::State::Written);

    // The poll that fell due runs after all that, as an ordinary poll.
    r.com.frames.clear();
    panels.FireDueTimers();
    EXPECT_EQ(r.com.frames, (std::vector<Bytes>{expectedPoll(1)}));
}

TEST_F(SetupTransfer, BothSetUpWindowsOpenShowTheRestoredValuesWithoutWaitingForAPoll)
{
    const int adv = r.openAdvanced();
    const int user = r.openUser();
    backUpFrom(adv, PANEL_3_BACKUP);
    changeTransmitter();
    r.tick();
    long long medium = 0, cycles = 0;
    panels.GetCtrlVal(user, PANEL_4_MEDIUM, medium);
    panels.GetCtrlVal(adv, PANEL_3_CYCLES_NUM, cycles);
    ASSERT_EQ(medium, 8);
    ASSERT_EQ(cycles, 700);
    restoreFrom(adv, PANEL_3_RESTORE);
    panels.GetCtrlVal(user, PANEL_4_MEDIUM, medium);
    panels.GetCtrlVal(adv, PANEL_3_CYCLES_NUM, cycles);
    EXPECT_EQ(medium, 4);
    EXPECT_EQ(cycles, 812);
    std::string ci;
    panels.GetCtrlVal(adv, PANEL_3_CONFIG_INDEX_6, ci);
    EXPECT_EQ(ci, "B");
}

TEST_F(SetupTransfer, WithoutAPortNothingIsSentOrSaved)
{
    app.link.usPortNumber = 0;
    app.link.ucMBFlag = 0;  // and no RS_Settings in this directory
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    EXPECT_TRUE(r.com.frames.empty());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_NE(allPopups().find(kMsgNoPort), std::string::npos) << allPopups();
}

TEST_F(SetupTransfer, CompareShowsBothSidesAndMarksTheDifferencesWithoutWriting)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    press(user, PANEL_4_COMPARE);
    EXPECT_TRUE(writes().empty());
    ASSERT_EQ(windows.comparisons.size(), 1u) << allPopups();
    const SetupComparison& c = windows.comparisons.back();
    EXPECT_EQ(c.rows.size(), 47u);
    EXPECT_EQ(c.differing(), 5);
    EXPECT_EQ(row(44).backup, "4 (Liquid)") << "a ring's value is named by its item";
    EXPECT_EQ(row(44).transmitter, "8 (Liquid Pipe)");
    EXPECT_EQ(row(reg::kRl1ThVal).transmitter, "900");
    EXPECT_EQ(row(reg::kCyclesNum).backup, "812");
    EXPECT_EQ(row(reg::kDac4mA).backup, "2100") << "an advanced control sharing a ring's id is no ring";
    EXPECT_EQ(row(reg::kMbParity).backup, "0 (No Parity)");
    EXPECT_EQ(row(reg::kDistance4mA).state, SetupRow::State::Same) << "the span is compared too";
    EXPECT_EQ(row(44).state, SetupRow::State::Differs);
    EXPECT_EQ(row(34).backup, "\"B\"");
    EXPECT_EQ(row(34).transmitter, "\"X\"");
    EXPECT_EQ(row(reg::kV0).transmitter, "0.5");
    EXPECT_EQ(c.backupOf, "Gauge 5m (model code 17) at slave address 1");
    EXPECT_TRUE(c.note.empty());

    r.regs[reg::kSensorType - 1] = 0x12;
    press(user, PANEL_4_COMPARE);
    EXPECT_NE(windows.comparisons.back().note.find("cannot be restored"), std::string::npos);
}

// The plan: what is written, in which order, and what is left alone and why, for backups
// holding values at the edges of what a control takes and values no control could send.
TEST_F(SetupTransfer, RestoreWritesOnlyWhatTheRegistersOwnControlWouldSendAndTheLineSettingsLast)
{
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> backedUp;           // the transmitter's values at the backup
        W written;                                           // the writes, in order
        std::vector<std::pair<int, const char*>> leftAlone;  // register, words of its reason
    };
    const Case cases[] = {
        {"edges: 0 and 65535, a character of none, the first and last items",
         {{reg::kRl1ThVal, 0},
          {reg::kRl2ThVal, 65535},
          {reg::kMedium, 4},
          {reg::kRl1ThEnable, 0},
          {reg::kDistance20mA, 0},
          {reg::kDistance4mA, 4800}},
         {{12, 0}, {11, 4800}, {44, 4}, {47, 0}, {70, 0}, {71, 65535}},
         {}},
        {"values no item has are listed, not written",
         {{reg::kMbBaudRate, 2}, {reg::kMbParity, 5}, {reg::kMedium, 9}, {reg::kRl1ThEnable, 2}},
         {},
         {{75, "2 is none of its choices (0 9600, 1 19200)"},
          {74, "5 is none of its choices (0 No Parity, 1 Even Parity, 2 Odd Parity)"},
          {44, "9 is none of its choices"},
          {47, "2 is none of its choices"}}},
        {"line settings after every other register, also those after them in the map",
         {{reg::kMbParity, 1},
          {reg::kMbBaudRate, 1},
          {reg::kRl1PumpLower, 0},
          {reg::kRl1PumpUpper, 3000},
          {reg::kMedium, 6},
          {reg::kBlindDistance, 250}},
         {{15, 250}, {44, 6}, {72, 3000}, {73, 0}, {75, 1}, {74, 1}},
         {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SetUp();
        app.link.ulBaudRate = 9600;
        app.link.usParity = 0;
        const int user = r.openUser();
        const std::vector<std::uint16_t> start = r.regs;
        for (auto [reg, v] : k.backedUp)
            r.regs[reg - 1] = static_cast<std::uint16_t>(v);
        backUpFrom(user, PANEL_4_BACKUP);
        // Every one of them differs now.
        for (auto [reg, v] : k.backedUp)
            r.regs[reg - 1] = static_cast<std::uint16_t>(v == 1 ? 0 : 1);
        const std::vector<std::uint16_t> before = r.regs;
        restoreFrom(user, PANEL_4_RESTORE);
        EXPECT_EQ(writes(), k.written) << allPopups();
        for (auto [reg, words] : k.leftAlone) {
            EXPECT_EQ(row(reg).state, SetupRow::State::NotWritten) << reg;
            EXPECT_NE(row(reg).outcome.find(words), std::string::npos) << reg << ": " << row(reg).outcome;
            EXPECT_EQ(r.regs[reg - 1], before[reg - 1]) << reg << " untouched";
        }
        for (auto [reg, v] : k.written)
            EXPECT_EQ(row(reg).state, SetupRow::State::Written) << reg << ": " << row(reg).outcome;
        r.regs = start;
    }
}

TEST_F(SetupTransfer, TheUnitsOwnCalibrationAndAddressAreCopiedOnlyWhenTicked)
{
    const int adv = r.openAdvanced();
    r.regs[reg::kUid - 1] = 1;
    r.regs[reg::kEpot20C - 1] = 300;
    backUpFrom(adv, PANEL_3_BACKUP);
    // Another unit: its own calibration, probe constant and address, and one user value.
    r.regs[reg::kDac4mA - 1] = 2050;
    r.regs[reg::kDac20mA - 1] = 9000;
    r.regs[reg::kEpot20C - 1] = 310;
    r.regs[reg::kMedium - 1] = 8;

    restoreFrom(adv, PANEL_3_RESTORE);  // nothing ticked
    EXPECT_EQ(writes(), (W{{44, 4}}));
    for (int reg : {13, 14, 24}) {
        EXPECT_EQ(row(reg).state, SetupRow::State::NotWritten) << reg;
        EXPECT_NE(row(reg).outcome.find("not ticked"), std::string::npos) << row(reg).outcome;
    }
    EXPECT_NE(r.popupText(1).find("[ ] register 13 Dac 4mA: 2050 -> 2100 (the current output's calibration)"),
              std::string::npos)
        << allPopups();
    EXPECT_NE(r.popups.lastWarning.find("belong to the transmitter the backup was made from"), std::string::npos);

    // Ticked: the calibration goes, the probe constant stays.
    r.popups.tickAnswer = {"Dac 4mA", "Dac 20mA"};
    restoreFrom(adv, PANEL_3_RESTORE);
    EXPECT_EQ(writes(), (W{{13, 2100}, {14, 0}}));
    EXPECT_EQ(r.regs[reg::kEpot20C - 1], 310);
    EXPECT_EQ(row(13).state, SetupRow::State::Written);

    // The address, ticked, goes after the set-up and the program follows it there.
    r.regs[reg::kUid - 1] = 9;
    backUpFrom(adv, PANEL_3_BACKUP);
    r.regs[reg::kUid - 1] = 1;
    r.regs[reg::kMedium - 1] = 8;
    r.popups.tickAnswer = {"UID"};
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        if (f[0] == r.regs[reg::kUid - 1])
            answer(port, f);  // the transmitter answers at its own address only
    };
    restoreFrom(adv, PANEL_3_RESTORE);
    EXPECT_EQ(writes(), (W{{44, 4}, {25, 9}}));
    EXPECT_EQ(row(reg::kUid).state, SetupRow::State::Written) << row(reg::kUid).outcome;
    EXPECT_EQ(app.link.slaveAddress, 9);
    r.com.frames.clear();
    r.tick();
    EXPECT_EQ(r.com.frames, (std::vector<Bytes>{expectedPoll(9)}));
}

// Echoes that come too late land in the next exchange's wait. No row may then show a value from
// before a write as the transmitter's: each shows the last readback, or says it was not read back.
TEST_F(SetupTransfer, LateEchoesNeverPassForAnotherRequestsReplyNorLeaveOldValuesInTheComparison)
{
    const int adv = r.openAdvanced();
    backUpFrom(adv, PANEL_3_BACKUP);
    changeTransmitter();
    r.regs[reg::kMaxGainTh - 1] = 3;
    r.regs[reg::kFrozenGain - 1] = 4;
    int request = 0;
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        const double delay = r.replyDelay;
        if (++request % 3 == 0)
            r.replyDelay = 2.3;  // every third reply comes past its wait
        answer(port, f);
        r.replyDelay = delay;
    };
    restoreFrom(adv, PANEL_3_RESTORE);
    ASSERT_FALSE(windows.comparisons.empty());
    int written = 0;
    for (const SetupRow& x : windows.comparisons.back().rows) {
        const RegisterEntry* e = nullptr;
        for (const RegisterEntry* s : SetupEntries())
            if (s->reg == x.reg)
                e = s;
        ASSERT_TRUE(e);
        std::vector<std::uint16_t> now;
        for (int i = 0; i < RegisterSpan(*e); ++i)
            now.push_back(r.regs[e->reg + i - 1]);
        const std::string held = SetupValueText(*e, now);
        EXPECT_TRUE(x.transmitter.rfind(held, 0) == 0 || x.transmitter == "(not read back since the write)")
            << "register " << x.reg << " shows " << x.transmitter << ", the transmitter holds " << held;
        if (x.state == SetupRow::State::Written) {
            ++written;
            EXPECT_EQ(x.transmitter, x.backup) << x.reg;
        }
    }
    EXPECT_NE(r.popups.popups.back().text.find(std::to_string(written) + " of "), std::string::npos)
        << "the summary counts what the rows show: " << r.popups.popups.back().text;
}

TEST_F(SetupTransfer, ACleanLineShowsEveryValidReplyInTheStatisticsWhateverAskedForIt)
{
    const int adv = r.openAdvanced();
    r.tick();
    backUpFrom(adv, PANEL_3_BACKUP);
    changeTransmitter();
    restoreFrom(adv, PANEL_3_RESTORE);
    r.tick();
    double percent = 0;
    int polls = 0, valid = 0;
    panels.GetCtrlVal(app.st.panelMain, PANEL_NUMERIC, percent);
    panels.GetCtrlVal(app.st.panelMain, PANEL_N_POLLS, polls);
    panels.GetCtrlVal(app.st.panelMain, PANEL_N_VALID_RESP, valid);
    EXPECT_EQ(polls, 2 + 1 + 1 + 2 * 4 + 1)
        << "two polls, the backup's read, the restore's read, four writes and readbacks, the last read";
    EXPECT_EQ(valid, polls);
    EXPECT_DOUBLE_EQ(percent, 100.0);

    r.answering = false;
    r.tick();
    panels.GetCtrlVal(app.st.panelMain, PANEL_N_VALID_RESP, valid);
    EXPECT_EQ(valid, polls) << "a poll without a reply is not valid";
}

// A dialog waits for the user, not for the line: a poll that falls due while the file dialog,
// the confirmation or the summary is up goes out then, as the event loop runs the timers.
// A restore under way stops between two registers, never inside one: on Cancel it reads the
// transmitter back once more and reports; on Exit nothing more goes out once the exchange under
// way has ended, and the program ends then.
TEST_F(SetupTransfer, ARestoreStopsBetweenTwoRegistersOnCancelOrExitAndSaysWhatWasWritten)
{
    for (const bool exiting : {false, true}) {
        SCOPED_TRACE(exiting ? "Exit" : "Cancel");
        AppRig x;  // a fresh program for each
        x.configurePort(1);
        x.transmitter();
        x.regs = r.regs;
        RecordingToolWindows shown;
        x.app.windows = &shown;
        double endedAt = -1;
        x.app.quit = [&](int status) {
            x.quitStatus = status;
            endedAt = x.clock.now();
        };
        const int adv = x.openAdvanced();
        x.popups.fileAnswer = file;
        x.panels.PostEvent(adv, PANEL_3_BACKUP, EVENT_COMMIT);
        x.regs[reg::kMedium - 1] = 8;
        x.regs[reg::kRl1ThVal - 1] = 900;
        x.regs[reg::kCyclesNum - 1] = 700;
        x.regs[reg::kConfigIndex1 + 5 - 1] = 'X';
        x.asyncLink();
        // The user stops it while the second write waits for its echo.
        double stoppedAt = -1;
        auto answer = x.com.peer;
        int writesSeen = 0;
        x.com.peer = [&](int port, const Bytes& f) {
            answer(port, f);
            if (f[1] == 6 && ++writesSeen == 2) {
                stoppedAt = x.clock.now();
                if (exiting)
                    x.panels.PostEvent(x.app.st.panelMain, PANEL_EXIT, EVENT_COMMIT);
                else
                    x.app.engine.RequestCancel();  // the progress window's Cancel
            }
        };
        x.com.frames.clear();
        x.popups.popups.clear();
        x.popups.confirmAnswer = true;
        x.panels.PostEvent(adv, PANEL_3_RESTORE, EVENT_COMMIT);
        x.settle();

        const std::vector<Bytes> line = {expectedPoll(1), expectedWrite(1, 44, 4), expectedRead(1, 44, 1),
                                         expectedWrite(1, 70, 1200)};
        std::vector<Bytes> expected = line;
        if (!exiting)
            expected.insert(expected.end(), {expectedRead(1, 70, 1), expectedPoll(1)});
        EXPECT_EQ(x.com.frames, expected) << "the write under way ends; no other starts";
        EXPECT_EQ(x.regs[reg::kCyclesNum - 1], 700) << "nothing half-written";
        EXPECT_FALSE(shown.progressShown);
        const auto& steps = shown.progress;
        EXPECT_NE(std::find(steps.begin(), steps.end(), "Writing register 44 Medium (1 of 4) 0/5"), steps.end());
        EXPECT_NE(std::find(steps.begin(), steps.end(), "Writing register 70 RL1 TH Value (2 of 4) 1/5"), steps.end());
        if (exiting) {
            EXPECT_EQ(x.quitStatus, 0);
            EXPECT_GT(endedAt, stoppedAt);
            EXPECT_LE(endedAt - stoppedAt, 2.5);
            for (const auto& said : x.popups.popups)
                EXPECT_EQ(said.text.find("restored"), std::string::npos) << "no window is left to report in";
            continue;
        }
        EXPECT_EQ(x.quitStatus, -1);
        ASSERT_FALSE(shown.comparisons.empty());
        const SetupComparison& c = shown.comparisons.back();
        auto state = [&](int reg) {
            for (const SetupRow& row : c.rows)
                if (row.reg == reg)
                    return row.state;
            return SetupRow::State::Same;
        };
        EXPECT_EQ(state(44), SetupRow::State::Written);
        EXPECT_EQ(state(70), SetupRow::State::Written);
        EXPECT_EQ(state(27), SetupRow::State::NotWritten);
        EXPECT_EQ(state(34), SetupRow::State::NotWritten);
        ASSERT_FALSE(x.popups.popups.empty());
        const std::string said = x.popups.popups.back().text;
        EXPECT_NE(said.find("Restore stopped (cancelled): 2 of 4 registers restored"), std::string::npos) << said;
        EXPECT_NE(said.find("register 27 Cycles Number: not written: cancelled"), std::string::npos) << said;
    }
}

TEST_F(SetupTransfer, ThePollsGoOnWhileTheSetUpToolsDialogsAreOpen)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    std::vector<std::size_t> pollsSeen;  // polls on the line by each dialog's end
    // The link as the program runs it: each dialog stays up while a poll comes and goes.
    r.asyncLink();
    r.popups.whileShown = [&] {
        r.clock.advanceTo(std::max(r.clock.now(), panels.nextTimerDue()) + 0.1);
        panels.FireDueTimers();
        r.clock.advanceTo(r.clock.now() + 1.1);
        std::size_t polls = 0;
        for (const Bytes& f : r.com.frames)
            polls += f == expectedPoll(1);
        pollsSeen.push_back(polls);
    };
    restoreFrom(user, PANEL_4_RESTORE);
    r.settle();
    // The file dialog, the confirmation and the summary: a poll in each, after the restore's
    // own full reads (the first and the last).
    ASSERT_EQ(pollsSeen.size(), 3u) << allPopups();
    EXPECT_EQ(pollsSeen, (std::vector<std::size_t>{1, 3, 5})) << "file dialog, confirmation, summary";
    EXPECT_EQ(writes(), (W{{44, 4}, {70, 1200}})) << "the restore itself as without the polls";
    EXPECT_NE(r.popups.popups.back().text.find("2 of 2 registers restored"), std::string::npos) << allPopups();
}

// One-register replies look alike for every register: a late one could pass for the readback
// of another. The read of all 78 after the restore has the last word on every row.
TEST_F(SetupTransfer, TheFullReadAfterTheRestoreOverrulesAOneRegisterReadbackThatLied)
{
    const int user = r.openUser();
    backUpFrom(user, PANEL_4_BACKUP);
    changeTransmitter();
    r.forgets = {70};  // echoes the write of 1200 but keeps 900
    auto answer = r.com.peer;
    r.com.peer = [&](int port, const Bytes& f) {
        if (f[1] == 3 && f[3] == 70 - 1 && f[5] == 1) {  // the readback of register 70 alone
            r.com.injectAfter(port, r.replyDelay, AppRig::withCrc({f[0], 3, 2, 1200 >> 8, 1200 & 0xFF}));
            return;
        }
        answer(port, f);
    };
    restoreFrom(user, PANEL_4_RESTORE);
    EXPECT_EQ(row(70).state, SetupRow::State::Failed) << row(70).outcome;
    EXPECT_EQ(row(70).transmitter, "900");
    EXPECT_NE(row(70).outcome.find("the read after the restore shows 900"), std::string::npos) << row(70).outcome;
    EXPECT_EQ(row(44).state, SetupRow::State::Written);
    EXPECT_NE(r.popups.popups.back().text.find("1 of 2 registers restored"), std::string::npos) << allPopups();
}

}  // namespace
