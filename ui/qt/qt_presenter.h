// Pop-up messages as modal message boxes.
#pragma once

#include "presenter.h"

namespace vek::ui::qt {

class QtPresenter : public Presenter {
public:
    // A warning box with `title`, `text` and OK over the active window; returns once the
    // user has dismissed it. The panel model queues whatever else the user does meanwhile.
    void MessagePopup(const std::string& title, const std::string& text) override;
    // The same box, but not modal and not waited for: it stays up while the program goes on,
    // and deletes itself when dismissed.
    void NoticePopup(const std::string& title, const std::string& text) override;
    bool ConfirmPopup(const std::string& title, const std::string& text) override;
    bool ConfirmWithOptions(const std::string& title, const std::string& text, const std::vector<std::string>& options,
                            const std::string& warning, std::vector<bool>& ticked) override;
    // Qt's save dialog (the desktop's own where the platform offers one); it asks before
    // an existing file is chosen only to be written at its end, so no overwrite question.
    std::string FileSelectPopup(const std::string& title, const std::string& start, const std::string& filter) override;
    // Qt's open dialog: only an existing file can be chosen.
    std::string FileOpenPopup(const std::string& title, const std::string& start, const std::string& filter) override;
};

}  // namespace vek::ui::qt
