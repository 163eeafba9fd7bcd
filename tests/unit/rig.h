// A headless program for tests: panel model, in-memory serial line, virtual clock,
// recorded pop-ups, real files. Nothing here sleeps.
#pragma once
#include <string>
#include <vector>

#include "app_state.h"
#include "mb_crc.h"
#include "memory_rs232.h"
#include "panel_ids.h"
#include "services.h"

namespace vek::test {

using Bytes = std::vector<std::uint8_t>;

struct CallRecord {
    std::string name;
    int panel, control, event;
};

// Every callback name the resource uses, bound to a recorder.
inline ui::CallbackRegistry recordingRegistry(std::vector<CallRecord>* calls)
{
    ui::CallbackRegistry r;
    for (const char* name :
         {"Get_Buttons", "Get_Buttons_2", "Get_Buttons_3", "Open_Write_File", "Write_Value", "Slave_Add", "MB_COM",
          "Set_Value", "Write_Value_1", "Write_Value_2", "Write_Value_3", "Write_Ascii", "Write_Single_Register",
          "Show_Traffic", "Show_Trend", "Find_Transmitter", "Back_Up_Setup", "Compare_Setup", "Restore_Setup"}) {
        std::string n = name;
        r[n] = [calls, n](int panel, int control, int event, void*, int, int) {
            if (calls)
                calls->push_back({n, panel, control, event});
            return 0;
        };
    }
    return r;
}

inline Bytes withCrc(Bytes f)
{
    const std::uint16_t crc = usMBCRC16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

// A reply to the poll: registers 1..n (index 0 is register 1), high byte first.
inline Bytes pollReply(std::uint8_t slave, const std::vector<std::uint16_t>& regs)
{
    Bytes f = {slave, 3, static_cast<std::uint8_t>(2 * regs.size())};
    for (std::uint16_t r : regs) {
        f.push_back(static_cast<std::uint8_t>(r >> 8));
        f.push_back(static_cast<std::uint8_t>(r));
    }
    return withCrc(f);
}

inline std::vector<std::uint16_t> sampleRegisters()
{
    std::vector<std::uint16_t> r(78);
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<std::uint16_t>(1000 + i);
    return r;
}

struct Rig {
    explicit Rig(ui::CallbackRegistry callbacks = recordingRegistry(nullptr))
        : panels(clock, std::move(callbacks), VEK_BINARY_DIR)
    {
        Init_Vars(app);
        panels.setPresenter(&popups);
        const int main = panels.LoadPanel(0, kResourceFile, PANEL);
        app.st.panelMain = main;
    }
    platform::VirtualClock clock;
    platform::MemoryRs232 com{clock};
    ui::RecordingPresenter popups;
    platform::NativeFiles files;
    ui::PanelModel panels;
    Services io{panels, com, clock, files, popups};
    App app{io};

    int led() const
    {
        int v = -1;
        panels.GetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, v);
        return v;
    }
    std::string message() const
    {
        std::string v;
        panels.GetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, v);
        return v;
    }
};

}  // namespace vek::test
