// Modal messages to the user. The Qt program shows a message box; tests record them.
#pragma once
#include <iostream>
#include <string>
#include <vector>

namespace vek::ui {

class Presenter {
public:
    virtual ~Presenter() = default;
    // Shows `text` under `title` and returns when the user has acknowledged it.
    virtual void MessagePopup(const std::string& title, const std::string& text) = 0;
};

class RecordingPresenter : public Presenter {
public:
    struct Popup {
        std::string title, text;
    };
    void MessagePopup(const std::string& title, const std::string& text) override { popups.push_back({title, text}); }
    std::vector<Popup> popups;
};

// Without windows: the message goes to standard error.
class StderrPresenter : public Presenter {
public:
    void MessagePopup(const std::string& title, const std::string& text) override
    {
        std::cerr << title << ": " << text << '\n';
    }
};

}  // namespace vek::ui
