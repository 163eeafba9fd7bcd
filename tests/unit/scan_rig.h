// The transmitter scan's test rig: the headless program with slaves on the in-memory line
// that hear only frames sent at their own line setting, as on a real line.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app_rig.h"
#include "cwd_guard.h"
#include "register_map.h"

namespace vek::test {

using Bytes = AppRig::Bytes;

// One slave on the line. It hears only frames sent at its own baud rate and parity (on a
// real line the others arrive as garbage and fail its CRC check) and answers its address.
struct Slave {
    int port = 1;
    int baud = 0, parity = 0;  // selectors, as the link keeps them
    int address = 1;
    std::uint16_t model = 0x11;
    enum class Fault { None, BadCrc, OtherAddress, Exception } fault = Fault::None;
    std::uint8_t exception = 2;  // the code of Fault::Exception
};

// The request a probe of `address` must put on the wire: read one register, register 68
// (wire address 67), with a CRC from the bitwise reference.
inline Bytes probeOf(std::uint8_t address)
{
    Bytes f = {address, 3, 0, 67, 0, 1};
    const std::uint16_t crc = test::referenceCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

struct ScanRig : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;
    std::vector<Slave> slaves;
    int answered = 0;  // replies the slaves sent

    void SetUp() override
    {
        rig.com.peer = [this](int port, const Bytes& f) { hear(port, f); };
    }

    // The line setting port `port` was last opened with.
    std::pair<int, int> lineOf(int port) const
    {
        for (auto it = rig.com.opens.rbegin(); it != rig.com.opens.rend(); ++it)
            if (it->port == port)
                return {it->baud == 19200 ? 1 : 0, it->parity == platform::RS_PARITY_EVEN  ? 1
                                                   : it->parity == platform::RS_PARITY_ODD ? 2
                                                                                           : 0};
        return {-1, -1};
    }

    void hear(int port, const Bytes& f)
    {
        if (f.size() != 8 || usMBCRC16(f.data(), f.size()) != 0)
            return;
        const auto [baud, parity] = lineOf(port);
        for (const Slave& s : slaves) {
            if (s.port != port || s.baud != baud || s.parity != parity || s.address != f[0])
                continue;
            Bytes reply;
            if (f[1] == 3 && f[5] == reg::kPolled) {
                reply = rig.pollReplyFrom(f[0]);
            } else if (f[1] == 3 && f[5] == 1) {
                const std::uint16_t v = f[3] == reg::kSensorType - 1 ? s.model : 0;
                reply = AppRig::withCrc({f[0], 3, 2, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
            } else {
                continue;
            }
            switch (s.fault) {
            case Slave::Fault::None: break;
            case Slave::Fault::BadCrc: reply.back() ^= 0x5A; break;
            case Slave::Fault::OtherAddress:
                reply = AppRig::withCrc({static_cast<std::uint8_t>(f[0] + 1), 3, 2, 0, 17});
                break;
            case Slave::Fault::Exception: reply = AppRig::withCrc({f[0], 0x83, s.exception}); break;
            }
            ++answered;
            // The reply starts after the request's 3.5-character silence and takes its wire time.
            rig.com.injectAfter(port, 0.004 + 0.008 * (baud == 0 ? 1 : 0.5), reply);
        }
    }

    void runToEnd()
    {
        for (int guard = 0; guard < 100000; ++guard)
            if (app.scan.Step(app) == TransmitterScan::StepResult::Finished)
                return;
        FAIL() << "the scan never ended";
    }

    std::vector<ScanFind> findsOf(ScanFindKind kind) const
    {
        std::vector<ScanFind> out;
        for (const ScanFind& f : app.scan.finds())
            if (f.kind == kind)
                out.push_back(f);
        return out;
    }

    int probesSent() const
    {
        return static_cast<int>(std::count_if(rig.com.frames.begin(), rig.com.frames.end(),
                                              [](const Bytes& f) { return f.size() == 8 && f[1] == 3 && f[5] == 1; }));
    }
    int pollsSent() const
    {
        return static_cast<int>(std::count_if(rig.com.frames.begin(), rig.com.frames.end(), [](const Bytes& f) {
            return f.size() == 8 && f[1] == 3 && f[5] == reg::kPolled;
        }));
    }

    // The user chooses a gateway in the RS485 Settings window (opened from the main window):
    // `kind` 1 RTU over TCP, 2 Modbus TCP. The window's panel.
    int chooseGateway(int kind, const std::string& host, int port)
    {
        rig.panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
        const int rs = app.st.panelRs485;
        rig.panels.UserSetValue(rs, PANEL_2_NET_HOST, host);
        rig.panels.UserSetValue(rs, PANEL_2_NET_PORT, port);
        rig.panels.UserSetValue(rs, PANEL_2_CONNECTION, kind);
        return rs;
    }
    std::string settingsFile() const
    {
        std::ifstream in("RS_Settings");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace vek::test
