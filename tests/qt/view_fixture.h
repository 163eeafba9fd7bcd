// A panel model over the real resource with a recording callback for every callback name the
// resource uses, and the Qt view on top of it.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "panel_model.h"
#include "presenter.h"
#include "qt/qt_panel_view.h"

namespace vek::ui::testing {

struct Call {
    std::string callback;
    int panel, ctrl, event;
    bool operator==(const Call&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Call& c)
{
    return os << c.callback << "(" << c.panel << ", " << c.ctrl << ", " << c.event << ")";
}

inline std::string resourcePath() { return VEK_PANEL_RESOURCE; }

inline std::string resourceText()
{
    QFile f(QString::fromStdString(resourcePath()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

// The resource's own panel, parsed independently of any window, as the reference.
inline Panel resourcePanel(int id)
{
    Panel p;
    EXPECT_EQ(ParsePanelResource(resourceText(), id, p), 0) << "panel " << id;
    return p;
}

class ViewTest : public ::testing::Test {
protected:
    explicit ViewTest(Clock& clock) : model(clock, recordingRegistry()), view(model) { view.setPresenter(&popups); }
    ViewTest() : ViewTest(virtualClock) {}

    ~ViewTest() override
    {
        // Windows of discarded panels are deleted by the event loop; let it do so now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    CallbackRegistry recordingRegistry()
    {
        CallbackRegistry reg;
        const std::string json = resourceText();
        for (int id = 1; id <= 9; ++id) {
            Panel p;
            if (ParsePanelResource(json, id, p) < 0)
                continue;
            for (const auto& c : p.controls)
                if (!c.callbackName.empty())
                    reg[c.callbackName] = [this, name = c.callbackName](int panel, int ctrl, int event, void*, int,
                                                                        int) {
                        calls.push_back({name, panel, ctrl, event});
                        if (auto it = hooks.find(name); it != hooks.end())
                            it->second(panel, ctrl, event);
                        return 0;
                    };
        }
        return reg;
    }

    int open(int panelId)
    {
        const int h = model.LoadPanel(0, resourcePath(), panelId);
        EXPECT_GT(h, 0) << "panel " << panelId;
        EXPECT_EQ(model.DisplayPanel(h), 0);
        return h;
    }

    template <class W = QWidget>
    W* widget(int handle, const char* constant)
    {
        QWidget* win = view.window(handle);
        return win ? win->findChild<W*>(QString::fromLatin1(constant)) : nullptr;
    }

    // The calls one callback received, in order.
    std::vector<Call> callsOf(const std::string& callback) const
    {
        std::vector<Call> out;
        for (const auto& c : calls)
            if (c.callback == callback)
                out.push_back(c);
        return out;
    }

    vek::platform::VirtualClock virtualClock;
    RecordingPresenter popups;
    std::vector<Call> calls;
    std::map<std::string, std::function<void(int, int, int)>> hooks;
    PanelModel model;
    qt::QtPanelView view;
};

}  // namespace vek::ui::testing
