// Fuzz target: the receive path. Arbitrary bytes arrive on the in-memory line as the reply
// to a poll (function 3, through the real polling cycle with its checks and decoders) or to
// a write (functions 6 and 16, through the four exchange steps). Besides the sanitizers,
// every outcome is compared with a reading of the same bytes made here from first
// principles (bitwise CRC, the frame layouts), so a wrong verdict is a finding too.
//
// Input: a 6-byte header, then the reply bytes as they arrive.
//   [0]   bits 0-1: function (1 = 6, 2 = 16, otherwise 3)
//         bit 2: append the reply's CRC, so that the checks past the CRC are reached often
//         bits 3, 4, 5: the user set-up, advanced set-up and data logger windows are open
//         bit 6: the read of the reply fails with a serial error
//   [1]   the slave address in use
//   [2-3] register number (functions 6 and 16, counted from 1)
//   [4-5] value to write (6); quantity (16, low byte only, so over-long requests occur)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app_rig.h"
#include "fuzz_common.h"
#include "mb_rtu_master.h"

using namespace vek;
using vek::fuzz::check;
using vek::fuzz::same;
using vek::test::AppRig;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kPort = 1;
constexpr int kSerialError = platform::RS_ERR_DEVICE_GONE;

AppRig& rig()
{
    static AppRig r;
    return r;
}

struct Shown {
    int ctrl;
    ui::Value value;
    bool dimmed;
    std::string label;
};

// Everything a window shows, except the controls named in `skip`.
std::vector<Shown> snapshot(int handle, std::initializer_list<int> skip = {})
{
    std::vector<Shown> out;
    const ui::Panel* p = rig().panels.panel(handle);
    if (!p)
        return out;
    for (const ui::Control& c : p->controls) {
        if (std::find(skip.begin(), skip.end(), c.id) != skip.end())
            continue;
        out.push_back({c.id, c.value, c.dimmed, c.label});
    }
    return out;
}

// The main window's measurements and warnings, which a poll without a valid reply greys
// (their values stay) once there has been a valid one.
constexpr int kGreyedWhenStale[] = {PANEL_DISTANCE_MM,  PANEL_LEVEL_MM,  PANEL_LEVEL_PERC, PANEL_NUMERICTANK,
                                    PANEL_TEMPERATURE,  PANEL_OUTPUT_MA, PANEL_FREQUENCY,  PANEL_MEASURE_STATUS,
                                    PANEL_SENSOR,       PANEL_RL1_LED,   PANEL_RL2_LED,    PANEL_ERROR_MSG,
                                    PANEL_ERROR_MSG_LED};

void checkUnchanged(const std::vector<Shown>& before, const std::vector<Shown>& after, const char* window,
                    bool stale = false)
{
    check(before.size() == after.size(), "a window gained or lost controls:", window);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const bool greys = stale && std::find(std::begin(kGreyedWhenStale), std::end(kGreyedWhenStale),
                                              before[i].ctrl) != std::end(kGreyedWhenStale);
        check(before[i].ctrl == after[i].ctrl && same(before[i].value, after[i].value) &&
                  (greys ? after[i].dimmed : before[i].dimmed == after[i].dimmed) && before[i].label == after[i].label,
              "a rejected reply changed a window:", std::string(window) + " control " + std::to_string(before[i].ctrl));
    }
}

long long shownNumber(int handle, int ctrl)
{
    long long v = 0;
    check(rig().panels.GetCtrlVal(handle, ctrl, v) == 0, "control has no number", std::to_string(ctrl));
    return v;
}

std::string shownText(int handle, int ctrl)
{
    std::string v;
    check(rig().panels.GetCtrlVal(handle, ctrl, v) == 0, "control has no text", std::to_string(ctrl));
    return v;
}

Bytes sealed(Bytes f)
{
    const std::uint16_t crc = test::referenceCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

bool crcHolds(const Bytes& f)
{
    if (f.size() < 2)
        return false;
    const std::uint16_t crc = test::referenceCrc(f.data(), f.size() - 2);
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

// The values a function-16 request carries; only their low 16 bits go on the wire.
std::uint32_t writeValues[256];

struct Request {
    std::uint8_t function = 3;
    std::uint8_t slave = 1;
    std::uint16_t reg = 0;
    std::uint16_t value = 0;
    std::uint32_t quantity = 0;
    Bytes frame;       // what must leave the port; empty when nothing may be sent
    Bytes echoFields;  // request bytes 2 to 5, which a write reply must repeat
};

Request requestFrom(const std::uint8_t* h)
{
    Request r;
    const int sel = h[0] & 3;
    r.function = sel == 1 ? 6 : sel == 2 ? 16 : 3;
    r.slave = h[1];
    r.reg = static_cast<std::uint16_t>(h[2] << 8 | h[3]);
    r.value = static_cast<std::uint16_t>(h[4] << 8 | h[5]);
    const std::uint16_t wire = static_cast<std::uint16_t>(r.reg - 1);  // register 0 wraps to FF FF
    if (r.function == 3) {
        r.frame = sealed({r.slave, 3, 0, 0, 0, 78});
    } else if (r.function == 6) {
        r.frame = sealed({r.slave, 6, static_cast<std::uint8_t>(wire >> 8), static_cast<std::uint8_t>(wire),
                          static_cast<std::uint8_t>(r.value >> 8), static_cast<std::uint8_t>(r.value)});
    } else {
        r.quantity = h[5];
        if (r.quantity <= 123) {
            Bytes f = {r.slave,
                       0x10,
                       static_cast<std::uint8_t>(wire >> 8),
                       static_cast<std::uint8_t>(wire),
                       0,
                       static_cast<std::uint8_t>(r.quantity),
                       static_cast<std::uint8_t>(2 * r.quantity)};
            for (std::uint32_t i = 0; i < r.quantity; ++i) {
                f.push_back(static_cast<std::uint8_t>(writeValues[i] >> 8));
                f.push_back(static_cast<std::uint8_t>(writeValues[i]));
            }
            r.frame = sealed(f);
        }
    }
    // A request that was never built has nothing a reply could echo.
    if (!r.frame.empty())
        r.echoFields.assign(r.frame.begin() + 2, r.frame.begin() + 6);
    return r;
}

struct Verdict {
    bool valid = false;
    bool serialError = false;
    bool functionOk = true;      // when false, the byte-count marker may or may not appear
    std::string message;         // exact, unless !functionOk
    std::string messageNoCount;  // the alternative without "-BYTESNUM-" when !functionOk
};

// What the link must conclude from `reply` arriving whole before the read.
Verdict judge(const Request& q, const Bytes& reply, bool readFails)
{
    Verdict v;
    // A request too large to build sends nothing, so nothing that waits can answer it.
    if (q.frame.empty()) {
        v.message = "-NO RESPONSE-";
        return v;
    }
    const std::size_t expected = q.function == 3 ? 5 + 2 * 78 : 8;
    if (reply.size() == 5) {
        // Only an exception reply is read; five other bytes are left where they are.
        const bool exception = reply[0] == q.slave && reply[1] == (q.function | 0x80) && crcHolds(reply);
        v.serialError = exception && readFails;
        v.message = !exception  ? "-NO RESPONSE-"
                    : readFails ? platform::Rs232ErrorText(kSerialError)
                                : "-EXCEPTION " + std::to_string(reply[2]) + "-";
        return v;
    }
    if (reply.size() != expected) {
        v.message = "-NO RESPONSE-";
        return v;
    }
    if (readFails) {
        v.serialError = true;
        v.message = platform::Rs232ErrorText(kSerialError);
        return v;
    }
    const bool addressOk = reply[0] == q.slave;
    v.functionOk = reply[1] == q.function;
    const bool countOk =
        q.function == 3 ? reply[2] == 156 : std::equal(reply.begin() + 2, reply.begin() + 6, q.echoFields.begin());
    const bool crcOk = crcHolds(reply);
    v.valid = addressOk && v.functionOk && countOk && crcOk;
    const std::string uid = addressOk ? "" : "-UID-";
    const std::string fn = v.functionOk ? "" : "-FUNCCODE-";
    const std::string crc = crcOk ? "" : "-CRC-";
    v.message = uid + fn + (countOk ? "" : "-BYTESNUM-") + crc;
    v.messageNoCount = uid + fn + crc;
    if (!v.functionOk)
        v.message = uid + fn + "-BYTESNUM-" + crc;
    return v;
}

void checkOutcome(const Verdict& v, const std::string& shown, int lamp, const LinkState& l)
{
    check(l.commErrorText.size() <= kCommErrorTextCapacity, "error text past its storage");
    check(shown == l.commErrorText, "the window shows another text than the link holds", shown);
    const bool messageOk = shown == v.message || (!v.functionOk && shown == v.messageNoCount);
    check(messageOk, "wrong link message:", "shown '" + shown + "' expected '" + v.message + "'");
    check(lamp == (v.message.empty() ? 0 : 1), "wrong lamp for", "'" + shown + "'");
    check((l.responseValid == 1) == v.valid, "wrong verdict on the reply", shown);
}

int reg(const Bytes& r, int n) { return r[2 * n + 1] << 8 | r[2 * n + 2]; }

float regFloat(const Bytes& r, int n)
{
    const std::uint32_t bits = static_cast<std::uint32_t>(reg(r, n + 1)) << 16 | static_cast<std::uint32_t>(reg(r, n));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A valid poll reply must be what the main window now shows, register by register.
void checkShown(const Bytes& r)
{
    AppRig& g = rig();
    const int p = g.app.st.panelMain;
    check(shownNumber(p, PANEL_DISTANCE_MM) == reg(r, 1), "distance is not register 1");
    check(shownNumber(p, PANEL_LEVEL_MM) == static_cast<std::int16_t>(reg(r, 2)), "level is not register 2");
    check(shownNumber(p, PANEL_UID) == reg(r, 25), "UID is not register 25");
    check(shownNumber(p, PANEL_MEASURE_STATUS) == reg(r, 54), "measure status is not register 54");
    ui::Value level;
    g.panels.GetCtrlValue(p, PANEL_LEVEL_PERC, level);
    const double expect = static_cast<double>(regFloat(r, 3));
    check(same(level, ui::Value(expect)), "level % is not registers 3-4, low word first");
    // Probe warnings: flags are registers 55-58 equal to 1; no echo with distance is one condition.
    const bool t = reg(r, 55) == 1, e = reg(r, 56) == 1, gain = reg(r, 57) == 1, d = reg(r, 58) == 1;
    std::string w;
    if (t)
        w += "-TEMP-";
    if (e && !d)
        w += "-NO_ECHO-";
    if (gain)
        w += "-GAIN-";
    if (d && !e)
        w += "-DIST-";
    if (e && d)
        w += "-ECHO BLIND DIST-";
    check(shownText(p, PANEL_ERROR_MSG) == w, "wrong probe warnings", shownText(p, PANEL_ERROR_MSG) + " vs " + w);
    check(shownNumber(p, PANEL_ERROR_MSG_LED) == (w.empty() ? 0 : 1), "wrong warning lamp");
}

void poll(const Request& q, const Bytes& reply, bool readFails)
{
    AppRig& g = rig();
    const int mainPanel = g.app.st.panelMain;
    const auto mainBefore = snapshot(
        mainPanel, {PANEL_ERROR_COM_MSG, PANEL_ERROR_COMM_LED, PANEL_N_POLLS, PANEL_N_VALID_RESP, PANEL_NUMERIC});
    const auto userBefore = snapshot(g.app.st.panelUser);
    const auto advBefore = snapshot(g.app.st.panelAdvanced);
    const int validBefore = g.app.st.validResponseCount;
    // Measurements grey once a poll (not a write's echo) has shown some.
    const bool shownBefore = !g.app.st.lastValidTime.empty();

    g.com.peer = [&g, &reply](int port, const Bytes&) { g.com.inject(port, reply); };
    g.com.failNextRead = readFails ? kSerialError : 0;
    g.tick();
    g.com.peer = nullptr;

    const LinkState& l = g.app.link;
    check(g.com.frames.size() == 1 && g.com.frames[0] == q.frame, "the poll left the port wrong");
    check(l.pollCount == 1, "the poll was not counted once");
    const Verdict v = judge(q, reply, readFails);
    checkOutcome(v, g.mainMessage(), g.mainLed(), l);
    check(g.app.st.validResponseCount == validBefore + (v.valid ? 1 : 0), "valid replies miscounted");
    check(shownNumber(mainPanel, PANEL_N_POLLS) == l.pollCount, "N_POLLS is not the requests sent");
    check(shownNumber(mainPanel, PANEL_N_VALID_RESP) == g.app.st.validResponseCount, "N_VALID_RESP is off");
    if (v.valid) {
        checkShown(reply);
        for (int ctrl : kGreyedWhenStale)
            check(!rig().panels.control(mainPanel, ctrl)->dimmed || ctrl == PANEL_RL1_LED || ctrl == PANEL_RL2_LED,
                  "a valid reply left a value greyed:", std::to_string(ctrl));
    } else {
        checkUnchanged(mainBefore,
                       snapshot(mainPanel, {PANEL_ERROR_COM_MSG, PANEL_ERROR_COMM_LED, PANEL_N_POLLS,
                                            PANEL_N_VALID_RESP, PANEL_NUMERIC}),
                       "main", shownBefore);
        checkUnchanged(userBefore, snapshot(g.app.st.panelUser), "user set-up");
        checkUnchanged(advBefore, snapshot(g.app.st.panelAdvanced), "advanced set-up");
    }
    check(l.commError == (v.serialError ? 1 : 0), "serial error flag is off");
    if (v.serialError) {
        // The next tick recovers: it shows the error, sends nothing, and clears the lamp.
        g.com.frames.clear();
        g.tick();
        check(g.com.frames.empty() && l.pollCount == 1, "the recovery tick sent a request");
        check(l.commError == 0 && g.mainLed() == 0 && g.mainMessage().empty(), "the recovery tick left the error");
    }
}

void write(const Request& q, const Bytes& reply, bool readFails)
{
    AppRig& g = rig();
    LinkState& l = g.app.link;
    // A write's valid echo counts as a valid reply, as a poll's does.
    const auto stats = {PANEL_ERROR_COM_MSG, PANEL_ERROR_COMM_LED, PANEL_N_POLLS, PANEL_N_VALID_RESP, PANEL_NUMERIC};
    const auto mainBefore = snapshot(g.app.st.panelMain, stats);
    const int validBefore = g.app.st.validResponseCount;
    OpenLinkPort(g.app);
    l.ucFuncCod = q.function;
    l.ucFuncCodReceived = q.function;
    l.usCoilRegAddress = q.reg;
    l.usWriteValue = q.value;
    l.usNumCoilsRegs = q.quantity;
    l.us_BufferPtr = writeValues;
    g.com.peer = [&g, &reply](int port, const Bytes&) { g.com.inject(port, reply); };
    g.com.failNextRead = readFails ? kSerialError : 0;
    const ExchangeOutcome outcome =
        vek::test::RunToEnd(
            ExchangeWithSlave(
                g.app,
                [&g](LinkState& s, MasterIo& io, int port) { return PendingReply(s, io, port, ReplyWaitOf(g.app, 2.0)); },
                ""))
            .outcome;
    g.com.peer = nullptr;
    if (q.frame.empty())
        check(g.com.frames.empty() && l.pollCount == 0, "an over-long request was sent or counted");
    else
        check(g.com.frames.size() == 1 && g.com.frames[0] == q.frame && l.pollCount == 1,
              "the write left the port wrong");
    check(OutcomeText(outcome) == l.commErrorText, "the outcome and the link's message disagree");
    const Verdict v = judge(q, reply, readFails);
    checkOutcome(v, g.mainMessage(), g.mainLed(), l);
    checkUnchanged(mainBefore, snapshot(g.app.st.panelMain, stats), "main");
    check(g.app.st.validResponseCount == validBefore + (v.valid ? 1 : 0), "a write's valid echo was miscounted");
    check(shownNumber(g.app.st.panelMain, PANEL_N_POLLS) == l.pollCount, "N_POLLS is not the requests sent");
    check(shownNumber(g.app.st.panelMain, PANEL_N_VALID_RESP) == g.app.st.validResponseCount, "N_VALID_RESP is off");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (std::uint32_t i = 0; i < 256; ++i)
        writeValues[i] = i * 0x0101u + 0x10000u * i;
    rig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    AppRig& g = rig();
    const Request q = requestFrom(data);
    Bytes reply(data + 6, data + size);
    if (data[0] & 0x04)
        reply = sealed(reply);
    const bool readFails = (data[0] & 0x40) != 0;

    // Every input starts from a fresh link on a configured port, as after start-up; the
    // windows keep what earlier inputs showed, as a long-running program's would.
    g.app.link = LinkState{};
    g.app.link.slaveAddress = q.slave;
    g.configurePort(kPort);
    g.app.st.userPanelOpen = (data[0] & 0x08) ? PANEL_4 : 0;
    g.app.st.advancedPanelOpen = (data[0] & 0x10) ? PANEL_3 : 0;
    g.app.st.dataLogPanelOpen = (data[0] & 0x20) ? DATA_LOG : 0;

    if (q.function == 3)
        poll(q, reply, readFails);
    else
        write(q, reply, readFails);
    check(g.popups.popups.empty(), "a reply raised a pop-up");
    // The line's records go within the input that made them: memory held over from one
    // input to the next would look like a leak to libFuzzer and cost a leak scan each time.
    g.com.frames.clear();
    g.com.opens.clear();
    g.com.closes.clear();
    return 0;
}
