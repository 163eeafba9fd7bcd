// The whole program as one object: the real platform (Qt windows, the system's serial ports and
// files, the real clock, message boxes) wired to the application. main() makes one; the
// end-to-end tests make one too, with pop-ups recorded instead of shown.
#pragma once
#include <QApplication>

#include <memory>
#include <string>

#include "app_state.h"
#include "panel_model.h"
#include "link_switch.h"
#ifdef _WIN32
#include "win32_rs232.h"
#else
#include "posix_rs232.h"
#endif
#include "clock.h"
#include "link_engine.h"
#include "qt/qt_panel_view.h"
#include "qt_tool_windows.h"

namespace vek {

class Program {
public:
    // `popups` replaces the message boxes (tests record them); null shows real ones.
    explicit Program(std::string resourceDir, ui::Presenter* popups = nullptr);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Start-up: -1 when the panels cannot be loaded (nothing is shown), else 0.
    int start();
    // Runs the event loop until Exit; returns the exit status.
    int run(QApplication& qapp);

    App& app() { return *app_; }
    ui::PanelModel& panels() { return panels_; }
    ui::qt::QtPanelView& view() { return view_; }
    platform::NativeRs232& com() { return com_; }
    platform::LinkSwitch& link() { return link_; }
    tools::QtToolWindows& tools() { return *tools_; }

    // Where the panel resource is: beside the executable, or in its share folder once installed.
    static std::string defaultResourceDir();

private:
    // The link engine's waits on the window's own event loop: Qt timers, never a sleep.
    class QtLinkTimer : public LinkTimer {
    public:
        void After(double seconds, std::function<void()> fn) override;

    private:
        QObject context_;  // pending waits go with the program
    };

    platform::SleepClock clock_;  // time only: nothing of the program sleeps on the window's thread
    QtLinkTimer linkTimer_;
    platform::NativeRs232 com_;
    // The app's link: the serial port above, or a gateway when the settings name one.
    platform::LinkSwitch link_{com_};
    platform::NativeFiles files_;
    std::unique_ptr<ui::Presenter> ownPopups_;
    ui::Presenter& popups_;
    ui::PanelModel panels_;
    ui::qt::QtPanelView view_;
    Services services_;
    std::unique_ptr<App> app_;
    // After the App: the windows stop listening to its recorders before it goes.
    std::unique_ptr<tools::QtToolWindows> tools_;
};

}  // namespace vek
