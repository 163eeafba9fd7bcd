// Everything the application asks of the outside world, grouped by concern: its windows,
// the serial port, the clock, files and pop-ups. The program wires real implementations (Qt windows,
// POSIX serial ports and files, the real clock); tests wire a headless panel model, an
// in-memory port and a virtual clock.
#pragma once
#include <string>
#include <vector>

#include "clock.h"
#include "files.h"
#include "panel_model.h"
#include "presenter.h"
#include "rs232.h"

namespace vek {

struct Services {
    ui::PanelModel& panels;
    platform::Rs232& com;
    platform::Clock& clock;
    platform::FileService& files;
    ui::Presenter& popups;

    std::string DateStr() const { return platform::DateStr(clock); }
    std::string TimeStr() const { return platform::TimeStr(clock); }
    // A modal pop-up waits for the user, not for the line: the timers (the polls) go on meanwhile.
    void MessagePopup(const std::string& title, const std::string& text)
    {
        UserWait w{panels};
        popups.MessagePopup(title, text);
    }
    void NoticePopup(const std::string& title, const std::string& text) { popups.NoticePopup(title, text); }
    bool ConfirmPopup(const std::string& title, const std::string& text)
    {
        UserWait w{panels};
        return popups.ConfirmPopup(title, text);
    }
    bool ConfirmWithOptions(const std::string& title, const std::string& text, const std::vector<std::string>& options,
                            const std::string& warning, std::vector<bool>& ticked)
    {
        UserWait w{panels};
        return popups.ConfirmWithOptions(title, text, options, warning, ticked);
    }
    std::string FileSelectPopup(const std::string& title, const std::string& start, const std::string& filter)
    {
        UserWait w{panels};
        return popups.FileSelectPopup(title, start, filter);
    }
    std::string FileOpenPopup(const std::string& title, const std::string& start, const std::string& filter)
    {
        UserWait w{panels};
        return popups.FileOpenPopup(title, start, filter);
    }

private:
    struct UserWait {
        explicit UserWait(ui::PanelModel& m) : model(m) { model.EnterUserWait(); }
        ~UserWait() { model.LeaveUserWait(); }
        UserWait(const UserWait&) = delete;
        UserWait& operator=(const UserWait&) = delete;
        ui::PanelModel& model;
    };
};

}  // namespace vek
