// Fuzz target: the "RS_Settings" reader. The input is the whole file. It is recalled into
// the serial settings window (RecallPanelState) and taken into the link's settings
// (RecallSerialSettings), as the first poll does. Besides the sanitizers it checks what
// must hold whatever the file says: every control keeps a value of its own data type, a
// saved-then-recalled window comes back identical, and settings are only ever taken
// when they are ones the settings window could have chosen.
#include <fstream>
#include <string>
#include <vector>

#include "app_rig.h"
#include "fuzz_common.h"

using namespace vek;
using vek::fuzz::check;
using vek::fuzz::checkTyped;
using vek::fuzz::same;
using vek::test::AppRig;

namespace {

struct Fixture {
    AppRig rig;
    fuzz::ScratchDir dir{"settings"};
    std::string input = dir.file("RS_Settings"), saved = dir.file("RS_Settings.saved");
    std::vector<ui::Value> defaults;  // the settings window as loaded
    int copy = 0;                     // a second settings window, for the save-and-recall check
    std::size_t windows = 0;          // panels loaded after start-up, the copy included

    Fixture()
    {
        for (const ui::Control& c : rig.panels.panel(rig.app.st.panelRs485)->controls)
            defaults.push_back(c.value);
        copy = rig.panels.LoadPanel(0, kResourceFile, PANEL_2);
        windows = rig.panels.handles().size();
    }
};

Fixture& fx()
{
    static Fixture f;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fx();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Fixture& f = fx();
    AppRig& g = f.rig;
    auto& panels = g.panels;
    const int window = g.app.st.panelRs485;

    // Each input starts from the windows as loaded and a link that knows no port yet.
    for (int h : {window, f.copy}) {
        const ui::Panel* p = panels.panel(h);
        check(p != nullptr, "a settings window went away");
        for (std::size_t i = 0; i < p->controls.size(); ++i)
            panels.SetCtrlVal(h, p->controls[i].id, f.defaults[i]);
    }
    g.app.link = LinkState{};
    {
        std::ofstream out(f.input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    const int recalled = panels.RecallPanelState(window, f.input, 0);
    const ui::Panel* p = panels.panel(window);
    for (const ui::Control& c : p->controls)
        checkTyped(c);

    // What the window holds now survives a save and a recall into a fresh copy unchanged.
    if (recalled == 0) {
        check(panels.SavePanelState(window, f.saved, 0) == 0, "the recalled settings cannot be saved");
        check(panels.RecallPanelState(f.copy, f.saved, 0) == 0, "saved settings do not recall");
        const ui::Panel* q = panels.panel(f.copy);
        for (std::size_t i = 0; i < p->controls.size(); ++i)
            if (p->controls[i].carriesValue())
                check(same(p->controls[i].value, q->controls[i].value),
                      "settings changed on a save and recall:", p->controls[i].constant);
    }

    g.app.st.settingsFileName = f.input;
    const bool taken = RecallSerialSettings(g.app);
    const LinkState& l = g.app.link;
    if (taken) {
        check(recalled == 0, "settings taken from a file the window could not recall");
        check(l.usPortNumber >= 1 && l.usPortNumber <= 9, "a port the window cannot choose",
              std::to_string(l.usPortNumber));
        check(l.ulBaudRate == 0 || l.ulBaudRate == 1, "a baud selector the window cannot choose");
        check(l.usParity <= 2, "a parity the window cannot choose");
        check(l.ucMBFlag == 1, "settings taken but the port is not marked known");
    } else {
        check(l.ucMBFlag == 0 && l.usPortNumber == 0, "a refused file still changed the port");
    }
    check(g.app.st.panelRs485 == window, "the settings window was replaced");
    check(panels.handles().size() == f.windows, "the reader left windows behind");
    check(g.popups.popups.empty(), "reading the settings raised a pop-up");
    return 0;
}
