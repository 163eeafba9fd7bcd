// The platform boundary: everything the application and the Modbus link ask of the
// outside world, grouped by concern. The program wires real implementations (Qt windows,
// POSIX serial ports and files, the real clock); tests wire a headless panel model, an
// in-memory port and a virtual clock.
#pragma once
#include <string>

#include "clock.h"
#include "files.h"
#include "panel_model.h"
#include "presenter.h"
#include "rs232.h"

namespace vek::ui {

struct Platform {
    PanelModel& panels;
    Rs232& com;
    Clock& clock;
    FileService& files;
    Presenter& popups;

    void Delay(double seconds) { clock.Delay(seconds); }
    std::string DateStr() const { return ui::DateStr(clock); }
    std::string TimeStr() const { return ui::TimeStr(clock); }
    void MessagePopup(const std::string& title, const std::string& text) { popups.MessagePopup(title, text); }
    void NoticePopup(const std::string& title, const std::string& text) { popups.NoticePopup(title, text); }
    bool ConfirmPopup(const std::string& title, const std::string& text) { return popups.ConfirmPopup(title, text); }
};

}  // namespace vek::ui
