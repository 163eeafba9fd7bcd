// The polling cycle and the decoders, with the whole program headless, a scripted
// transmitter on the in-memory line and the virtual clock.
#include <gtest/gtest.h>

#include <cstring>

#include <cmath>
#include <fstream>

#include "app_rig.h"
#include "cwd_guard.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Monitor : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    ui::PanelModel& panels = rig.panels;
    App& app = rig.app;

    int mainInt(int ctrl) const
    {
        long long v = -1;
        panels.GetCtrlVal(app.st.panelMain, ctrl, v);
        return static_cast<int>(v);
    }
    double mainDouble(int ctrl) const
    {
        double v = -1;
        panels.GetCtrlVal(app.st.panelMain, ctrl, v);
        return v;
    }
    std::string mainText(int ctrl) const
    {
        std::string v;
        panels.GetCtrlVal(app.st.panelMain, ctrl, v);
        return v;
    }
    void stats(int polls, int valid, double percent)
    {
        EXPECT_EQ(mainInt(PANEL_N_POLLS), polls);
        EXPECT_EQ(mainInt(PANEL_N_VALID_RESP), valid);
        EXPECT_DOUBLE_EQ(mainDouble(PANEL_NUMERIC), percent);
    }
    void press(int ctrl) { panels.PostEvent(app.st.panelMain, ctrl, EVENT_COMMIT); }
};

}  // namespace

TEST_F(Monitor, WithoutAPortTheTickAsksForOneAndSendsNothing)
{
    rig.transmitter();
    rig.tick();
    EXPECT_EQ(rig.mainMessage(), "Insert a valid com port !");
    EXPECT_EQ(rig.mainLed(), 1);
    EXPECT_TRUE(rig.com.frames.empty());
    stats(0, 0, 0.0);
    // "No Port" chosen is still no port.
    press(PANEL_CONFIG_SER_PORT);
    panels.UserSetValue(app.st.panelRs485, PANEL_2_COMPORT, 0);
    EXPECT_EQ(app.link.ucMBFlag, 1);
    rig.tick();
    EXPECT_TRUE(rig.com.frames.empty());
    EXPECT_EQ(rig.mainMessage(), "Insert a valid com port !");
}

TEST_F(Monitor, StatisticsAfterAValidAndAFailedReply)
{
    rig.configurePort(1);
    rig.transmitter();
    rig.tick();
    ASSERT_EQ(rig.com.frames.size(), 1u);
    EXPECT_EQ(rig.com.frames[0], expectedPoll(1));
    stats(1, 1, 100.0);
    EXPECT_EQ(rig.mainMessage(), "");
    rig.answering = false;
    rig.tick();
    stats(2, 1, 50.0);
    EXPECT_EQ(rig.mainMessage(), "-NO RESPONSE-");
}

TEST_F(Monitor, AFirstFailedReplyShowsZeroPercent)
{
    rig.configurePort(1);
    rig.tick();  // nobody answers
    stats(1, 0, 0.0);
    EXPECT_DOUBLE_EQ(rig.clock.totalDelayed(), 1.0) << "the reply is read one second after the poll";
}

TEST_F(Monitor, RecoveryTickReopensShowsTheErrorHalfASecondAndSendsNothing)
{
    rig.configurePort(2);
    rig.transmitter();
    rig.com.failNextRead = platform::RS_ERR_DEVICE_GONE;
    rig.tick();
    EXPECT_EQ(app.link.commError, 1);
    const std::size_t sent = rig.com.frames.size();
    const std::size_t closes = rig.com.closes.size();
    std::vector<std::pair<int, std::string>> shown;
    rig.clock.schedule(rig.clock.now() + 0.25, [&] { shown.push_back({rig.mainLed(), rig.mainMessage()}); });
    const double before = rig.clock.totalDelayed();
    rig.tick();
    EXPECT_EQ(rig.com.frames.size(), sent) << "a recovery tick sends nothing";
    EXPECT_EQ(rig.com.closes.size(), closes + 1);
    EXPECT_DOUBLE_EQ(rig.clock.totalDelayed() - before, 0.5);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, 1);
    EXPECT_EQ(shown[0].second, platform::Rs232ErrorText(platform::RS_ERR_DEVICE_GONE));
    EXPECT_EQ(rig.mainLed(), 0);
    EXPECT_EQ(rig.mainMessage(), "");
    EXPECT_EQ(app.link.commError, 0);
    stats(1, 0, 0.0);
    rig.tick();
    stats(2, 1, 50.0);
}

TEST_F(Monitor, TicksFollowTheTimerFiveSecondsAfterEachCycleEnds)
{
    rig.configurePort(1);
    rig.transmitter();
    std::vector<double> sentAt;
    auto answer = rig.com.peer;
    rig.com.peer = [&](int port, const std::vector<std::uint8_t>& f) {
        sentAt.push_back(rig.clock.now());
        answer(port, f);
    };
    while (rig.clock.now() < 20.0) {
        rig.clock.advanceTo(std::min(panels.nextTimerDue(), 20.0));
        panels.FireDueTimers();
    }
    EXPECT_EQ(sentAt, (std::vector<double>{5.0, 11.0, 17.0}));
}

TEST_F(Monitor, SavedSettingsAreRecalledAndPolledInTheFirstTick)
{
    std::ofstream("RS_Settings") << "[0]\nPARITY=2\nBAUD_RATE=1\nCOMPORT=3\nPorta=3\n";
    rig.transmitter();
    rig.tick();
    EXPECT_EQ(app.link.ucMBFlag, 1);
    EXPECT_EQ(app.link.usPortNumber, 3);
    ASSERT_EQ(rig.com.frames.size(), 1u);
    const auto& open = rig.com.opens.back();
    EXPECT_EQ(open.port, 3);
    EXPECT_EQ(open.baud, 19200);
    EXPECT_EQ(open.parity, platform::RS_PARITY_ODD);
    stats(1, 1, 100.0);
}

TEST_F(Monitor, BrokenSettingsFilesCountAsMissing)
{
    for (const char* content : {"", "[0]\nPorta=0\n", "[0]\nPorta=12\n", "[3]\nPorta=2\n", "garbage\x01\x02\n"}) {
        std::ofstream("RS_Settings", std::ios::trunc) << content;
        rig.tick();
        EXPECT_EQ(app.link.ucMBFlag, 0) << content;
        EXPECT_EQ(rig.mainMessage(), "Insert a valid com port !");
    }
    EXPECT_TRUE(rig.com.frames.empty());
}

TEST_F(Monitor, MeasurementsDecodeWithTheLowWordFirstAndUnsignedRegisters)
{
    rig.configurePort(1);
    rig.transmitter();
    rig.regs[0] = 0xFFFF;  // distance: 65535, never -1
    rig.regs[1] = 1234;    // level mm
    rig.regs[2] = 0x0000;  // level %: 0x42C80000 = 100.0, low word first
    rig.regs[3] = 0x42C8;
    rig.setFloat(5, 21.5f);
    rig.setFloat(7, 12.25f);
    rig.setFloat(9, 42.5f);
    rig.regs[10] = 4000;
    rig.regs[11] = 300;
    rig.regs[14] = 250;
    rig.regs[24] = 7;  // the transmitter's UID, not the address polled
    rig.regs[53] = 3;
    rig.regs[59] = 1;
    rig.regs[60] = 2;  // only 1 is "on"
    rig.regs[67] = 17;
    rig.tick();
    EXPECT_EQ(mainInt(PANEL_DISTANCE_MM), 65535);
    EXPECT_EQ(mainInt(PANEL_LEVEL_MM), 1234);
    EXPECT_DOUBLE_EQ(mainDouble(PANEL_LEVEL_PERC), 100.0);
    EXPECT_DOUBLE_EQ(mainDouble(PANEL_NUMERICTANK), 100.0);
    EXPECT_DOUBLE_EQ(mainDouble(PANEL_TEMPERATURE), 21.5);
    EXPECT_DOUBLE_EQ(mainDouble(PANEL_OUTPUT_MA), 12.25);
    EXPECT_DOUBLE_EQ(mainDouble(PANEL_FREQUENCY), 42.5);
    EXPECT_EQ(mainInt(PANEL_DISTANCE_4MA), 4000);
    EXPECT_EQ(mainInt(PANEL_DISTANCE_20MA), 300);
    EXPECT_EQ(mainInt(PANEL_BLIND_DISTANCE), 250);
    EXPECT_EQ(mainInt(PANEL_UID), 7);
    EXPECT_EQ(mainInt(PANEL_SLAVE_ADDRESS), 1);
    EXPECT_EQ(mainInt(PANEL_MEASURE_STATUS), 3);
    EXPECT_EQ(mainInt(PANEL_RL1_LED), 1);
    EXPECT_EQ(app.st.m.relay1Text, "ON");
    EXPECT_EQ(app.st.m.relay2Text, "OFF");
    EXPECT_EQ(mainText(PANEL_SENSOR), "Gauge 5m");

    // The same two words in the other order are a tiny denormal, not 100.
    std::swap(rig.regs[2], rig.regs[3]);
    rig.tick();
    EXPECT_LT(std::fabs(mainDouble(PANEL_LEVEL_PERC)), 1e-30);
}

TEST_F(Monitor, ModelCodesOutsideTheTableShowDashes)
{
    struct Row {
        int code;
        const char* text;
    };
    for (const Row& r : {Row{17, "Gauge 5m"}, Row{0x22, "RDA16"}, Row{0x52, "RDC1y"}, Row{21, "----"}, Row{35, "----"},
                         Row{48, "----"}, Row{83, "----"}, Row{0, "----"}})
        EXPECT_STREQ(SensorText(r.code), r.text) << r.code;
}

TEST_F(Monitor, RelayLampsDimForTransmittersWithoutRelaysAndComeBack)
{
    rig.configurePort(1);
    rig.transmitter();
    auto dimmed = [&](int ctrl) { return panels.control(app.st.panelMain, ctrl)->dimmed; };
    rig.regs[70] = 0xFF01;  // high byte 255 says nothing
    rig.tick();
    EXPECT_FALSE(dimmed(PANEL_RL1_LED));
    rig.regs[70] = 0x01FF;  // low byte 255: no relays
    rig.tick();
    EXPECT_TRUE(dimmed(PANEL_RL1_LED));
    EXPECT_TRUE(dimmed(PANEL_RL2_LED));
    EXPECT_TRUE(dimmed(PANEL_TEXTMSG_4));
    rig.regs[70] = 0x0100;  // another transmitter, with relays
    rig.tick();
    EXPECT_FALSE(dimmed(PANEL_RL1_LED));
    EXPECT_FALSE(dimmed(PANEL_TEXTMSG_4));
}

TEST_F(Monitor, ProbeWarningsFormOneTextWithTheCombinedRule)
{
    rig.configurePort(1);
    rig.transmitter();
    struct Row {
        std::uint16_t r55, r56, r57, r58;
        const char* text;
    };
    for (const Row& r : {Row{0, 0, 0, 0, ""}, Row{0, 1, 0, 0, "-NO_ECHO-"}, Row{0, 0, 0, 1, "-DIST-"},
                         Row{0, 1, 0, 1, "-ECHO BLIND DIST-"}, Row{1, 1, 1, 1, "-TEMP--GAIN--ECHO BLIND DIST-"},
                         Row{1, 1, 1, 0, "-TEMP--NO_ECHO--GAIN-"}, Row{2, 0, 65535, 0, ""}, Row{0, 0, 0, 0, ""}}) {
        rig.regs[54] = r.r55;
        rig.regs[55] = r.r56;
        rig.regs[56] = r.r57;
        rig.regs[57] = r.r58;
        rig.tick();
        EXPECT_EQ(mainText(PANEL_ERROR_MSG), r.text);
        EXPECT_EQ(mainInt(PANEL_ERROR_MSG_LED), std::string(r.text).empty() ? 0 : 1) << r.text;
    }
}

TEST_F(Monitor, AFailedReplyLeavesEveryWindowAsItWas)
{
    rig.configurePort(1);
    rig.transmitter();
    rig.regs[0] = 1500;
    rig.regs[56] = 1;
    rig.regs[15] = 33;
    rig.tick();
    press(PANEL_SET_UP_UT);
    const int user = app.st.panelUser;
    int gain = 0;
    panels.GetCtrlVal(user, PANEL_4_MAXGAIN_TH, gain);
    EXPECT_EQ(gain, 33);

    rig.regs[0] = 1600;
    rig.regs[56] = 0;
    rig.regs[15] = 44;
    // A reply of the right length with a broken CRC is read into the buffer but never decoded.
    rig.com.peer = [&](int port, const std::vector<std::uint8_t>&) {
        auto reply = rig.pollReplyFrom(1);
        reply.back() ^= 0x55;
        rig.com.injectAfter(port, 0.1, reply);
    };
    rig.tick();
    EXPECT_EQ(rig.mainMessage(), "-CRC-");
    EXPECT_EQ(mainInt(PANEL_DISTANCE_MM), 1500);
    EXPECT_EQ(mainText(PANEL_ERROR_MSG), "-GAIN-");
    panels.GetCtrlVal(user, PANEL_4_MAXGAIN_TH, gain);
    EXPECT_EQ(gain, 33);
}

TEST_F(Monitor, UserSetUpFollowsEveryValidPollWithUnitsRingsAndRelayGating)
{
    rig.configurePort(1);
    rig.transmitter();
    rig.regs[43] = 8;  // medium: "Liquid Pipe"
    rig.regs[58] = 5;  // safe mode: no item has 5
    rig.regs[74] = 1;  // transmitter baud: 19200
    rig.regs[69] = 1500;
    rig.regs[67] = 33;  // a model without relays
    rig.tick();
    press(PANEL_SET_UP_UT);
    const int user = app.st.panelUser;
    auto val = [&](int ctrl) {
        int v = -1;
        panels.GetCtrlVal(user, ctrl, v);
        return v;
    };
    EXPECT_EQ(val(PANEL_4_MEDIUM), 8);
    EXPECT_EQ(val(PANEL_4_MB_BAUD_RATE), 1);
    EXPECT_EQ(val(PANEL_4_OUTPUT_SAFE_MODE), 5);
    EXPECT_EQ(panels.control(user, PANEL_4_OUTPUT_SAFE_MODE)->itemIndexOf(5), -1)
        << "shown as unknown, not another item";
    EXPECT_EQ(val(PANEL_4_RL1_TH_VAL), 1500);
    EXPECT_EQ(panels.control(user, PANEL_4_RL1_TH_UNIT)->label, "mm");
    int dimmedCount = 0;
    for (const auto& c : panels.panel(user)->controls)
        dimmedCount += c.dimmed;
    EXPECT_EQ(dimmedCount, 19);

    rig.regs[69] = 1600;
    rig.regs[67] = 0x20;  // a model with relays: everything comes back
    rig.tick();
    EXPECT_EQ(val(PANEL_4_RL1_TH_VAL), 1600);
    EXPECT_FALSE(panels.control(user, PANEL_4_RL1_TH_ENABLE)->dimmed);
    EXPECT_EQ(rig.com.frames.size(), 2u) << "readback writes nothing";

    // Reopening after a model without relays dims again at the opening fill.
    rig.regs[67] = 0x2F;
    rig.tick();
    panels.PostEvent(user, PANEL_4_USCITA, EVENT_COMMIT);
    EXPECT_EQ(app.st.userPanelOpen, 0);
    press(PANEL_SET_UP_UT);
    EXPECT_TRUE(panels.control(app.st.panelUser, PANEL_4_RL2_DIAG_ENABLE)->dimmed);
    EXPECT_FALSE(panels.control(app.st.panelUser, PANEL_4_MEDIUM)->dimmed);
}

TEST_F(Monitor, AdvancedSetUpShowsFloatsAndConfigurationIndexTexts)
{
    rig.configurePort(1);
    rig.transmitter();
    rig.regs[18] = 0x0000;  // V0 = 1.0, low word first
    rig.regs[19] = 0x3F80;
    rig.setFloat(21, 0.00017f);
    rig.regs[28] = 0x0041;  // "A"
    rig.regs[29] = 0x4142;  // "BA": low byte first
    rig.regs[30] = 0x4100;  // a zero low byte ends the text at once
    rig.regs[31] = 0x0000;
    rig.regs[75] = 40000;  // frequency setting, not the measured frequency
    rig.tick();
    press(PANEL_SET_UP);
    panels.SetCtrlVal(app.st.panelPassword, PASSWORD_STRING, "tundo");
    panels.PostEvent(app.st.panelPassword, PASSWORD_ENTER, EVENT_COMMIT);
    const int adv = app.st.panelAdvanced;
    ASSERT_EQ(panels.panel(adv)->id, PANEL_3);
    double v0 = 0, alpha = 0;
    panels.GetCtrlVal(adv, PANEL_3_V0, v0);
    panels.GetCtrlVal(adv, PANEL_3_ALPHA, alpha);
    EXPECT_DOUBLE_EQ(v0, 1.0);
    EXPECT_DOUBLE_EQ(alpha, static_cast<double>(0.00017f));
    auto text = [&](int ctrl) {
        std::string s;
        panels.GetCtrlVal(adv, ctrl, s);
        return s;
    };
    EXPECT_EQ(text(PANEL_3_CONFIG_INDEX_1), "A");
    EXPECT_EQ(text(PANEL_3_CONFIG_INDEX_2), "BA");
    EXPECT_EQ(text(PANEL_3_CONFIG_INDEX_3), "");
    EXPECT_EQ(text(PANEL_3_CONFIG_INDEX_4), "");
    long long freq = 0;
    panels.GetCtrlVal(adv, PANEL_3_FREQUENCY, freq);
    EXPECT_EQ(freq, 40000);
    EXPECT_EQ(ConfigIndexText(0x00E9), "\xC3\xA9") << "bytes above 127 are shown as their Latin-1 letters";
}

// The decoder alone: registers in, measurements out, no window. Every register holds a value
// of its own, so a register taken for its neighbour, or a float's words swapped, shows.
TEST(DecodeMeasurements, EachValueComesFromItsOwnRegistersLowWordFirst)
{
    RegisterImage image{};
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint16_t>(0x100 + i);
    auto putFloat = [&image](int n, float f) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        image[n - 1] = static_cast<std::uint16_t>(bits);
        image[n] = static_cast<std::uint16_t>(bits >> 16);
    };
    putFloat(reg::kLevelPercent, 42.5f);
    putFloat(reg::kTemperature, -3.25f);
    putFloat(reg::kOutputMa, 12.8f);
    putFloat(reg::kFrequency, 40012.0f);
    image[reg::kRelay1State - 1] = 1;
    image[reg::kRelay2State - 1] = 2;
    image[reg::kRl2ThVal - 1] = 0x12FF;
    const Measurements m = DecodeMeasurements(image);
    EXPECT_EQ(m.distanceMm, 0x100);
    EXPECT_EQ(m.levelMm, 0x101);
    EXPECT_FLOAT_EQ(m.levelPercent, 42.5f);
    EXPECT_FLOAT_EQ(m.temperature, -3.25f);
    EXPECT_FLOAT_EQ(m.outputMa, 12.8f);
    EXPECT_FLOAT_EQ(m.frequency, 40012.0f);
    EXPECT_EQ(m.distance4mA, 0x100 + 10);
    EXPECT_EQ(m.distance20mA, 0x100 + 11);
    EXPECT_EQ(m.blindDistance, 0x100 + 14);
    EXPECT_EQ(m.deviceUid, 0x100 + 24);
    EXPECT_EQ(m.measureStatus, 0x100 + 53);
    EXPECT_EQ(m.sensorType, 0x100 + 67);
    EXPECT_EQ(m.relay1Text, "ON");
    EXPECT_EQ(m.relay2Text, "OFF") << "only 1 is on";
    EXPECT_TRUE(m.relaysAbsent) << "255 in register 71's low byte";
    EXPECT_EQ(m.warningText, "") << "warning registers holding other values than 1 raise nothing";

    image[reg::kProbeWarnings + 1 - 1] = 1;  // register 56: no echo
    image[reg::kProbeWarnings + 2 - 1] = 1;  // register 57: gain
    image[reg::kProbeWarnings + 3 - 1] = 1;  // register 58: distance
    const Measurements w = DecodeMeasurements(image);
    EXPECT_EQ(w.warningText, "-GAIN--ECHO BLIND DIST-");
    EXPECT_TRUE(w.warnEchoInBlindDistance && !w.warnNoEcho && !w.warnDistance);
}
