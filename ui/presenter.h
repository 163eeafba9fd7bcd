// Modal messages and dialogs for the user. The Qt program shows a message box; tests record them.
#pragma once
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace vek::ui {

class Presenter {
public:
    virtual ~Presenter() = default;
    // Shows `text` under `title` and returns when the user has acknowledged it.
    virtual void MessagePopup(const std::string& title, const std::string& text) = 0;
    // Shows `text` under `title` and returns at once: for what goes wrong inside the polling,
    // which must go on while the message waits for the user.
    virtual void NoticePopup(const std::string& title, const std::string& text) = 0;
    // Asks a yes/no question and returns true for Yes.
    virtual bool ConfirmPopup(const std::string& title, const std::string& text) = 0;
    // Asks a yes/no question with a box to tick beside each of `options`, none ticked at first,
    // and `warning` shown while any is ticked. True for Yes; `ticked` then holds one flag per
    // option (all false after No).
    virtual bool ConfirmWithOptions(const std::string& title, const std::string& text,
                                    const std::vector<std::string>& options, const std::string& warning,
                                    std::vector<bool>& ticked) = 0;
    // The desktop's dialog for choosing a file to write, starting at `start` (a file or a
    // folder), offering `filter` ("Name (*.ext);;All files (*)"). The chosen path, or ""
    // when the user cancelled.
    virtual std::string FileSelectPopup(const std::string& title, const std::string& start,
                                        const std::string& filter) = 0;
    // The same for choosing an existing file to read; "" when the user cancelled.
    virtual std::string FileOpenPopup(const std::string& title, const std::string& start,
                                      const std::string& filter) = 0;
};

class RecordingPresenter : public Presenter {
public:
    struct Popup {
        std::string title, text;
        bool modal = true;
    };
    void MessagePopup(const std::string& title, const std::string& text) override
    {
        popups.push_back({title, text});
        shown();
    }
    void NoticePopup(const std::string& title, const std::string& text) override
    {
        popups.push_back({title, text, false});
    }
    bool ConfirmPopup(const std::string& title, const std::string& text) override
    {
        popups.push_back({title, text});
        shown();
        return confirmAnswer;
    }
    bool ConfirmWithOptions(const std::string& title, const std::string& text, const std::vector<std::string>& options,
                            const std::string& warning, std::vector<bool>& ticked) override
    {
        std::string listed = text;
        for (const std::string& o : options)
            listed += "\n[ ] " + o;
        popups.push_back({title, listed});
        lastWarning = warning;
        shown();
        ticked.assign(options.size(), false);
        if (confirmAnswer)
            for (std::size_t i = 0; i < options.size(); ++i)
                for (const std::string& want : tickAnswer)
                    if (options[i].find(want) != std::string::npos)
                        ticked[i] = true;
        return confirmAnswer;
    }
    std::string FileSelectPopup(const std::string& title, const std::string& start, const std::string&) override
    {
        popups.push_back({title, start});
        shown();
        return fileAnswer;
    }
    std::string FileOpenPopup(const std::string& title, const std::string& start, const std::string&) override
    {
        popups.push_back({title, start});
        shown();
        return fileAnswer;
    }
    // Runs while a modal pop-up is up, as the event loop would run timers meanwhile.
    std::function<void()> whileShown;
    bool confirmAnswer = false;  // what the recorded user answers
    // The options the recorded user ticks: each option holding one of these texts.
    std::vector<std::string> tickAnswer;
    std::string lastWarning;  // the warning of the last confirmation with options
    std::string fileAnswer;   // the file the recorded user chooses; "" cancels
    std::vector<Popup> popups;

private:
    void shown()
    {
        if (whileShown)
            whileShown();
    }
};

// Without windows: the message goes to standard error.
class StderrPresenter : public Presenter {
public:
    void MessagePopup(const std::string& title, const std::string& text) override
    {
        std::cerr << title << ": " << text << '\n';
    }
    void NoticePopup(const std::string& title, const std::string& text) override { MessagePopup(title, text); }
    bool ConfirmPopup(const std::string& title, const std::string& text) override
    {
        MessagePopup(title, text);
        return false;
    }
    bool ConfirmWithOptions(const std::string& title, const std::string& text, const std::vector<std::string>& options,
                            const std::string&, std::vector<bool>& ticked) override
    {
        ticked.assign(options.size(), false);
        return ConfirmPopup(title, text);
    }
    std::string FileSelectPopup(const std::string&, const std::string&, const std::string&) override { return {}; }
    std::string FileOpenPopup(const std::string&, const std::string&, const std::string&) override { return {}; }
};

}  // namespace vek::ui
