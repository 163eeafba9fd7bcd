// One adapter per control kind: it makes the kind's widget, connects what the user does
// with it to the view, and shows the model's value and attributes on it. The view picks the
// adapter from a table by kind and knows nothing of the widgets themselves.
//
// Adapters keep no state: whatever a handler needs later it finds again through the host by
// panel handle and control id, since a callback may have discarded the window meanwhile.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

#include "panel_model.h"

namespace vek::ui::qt {

// Where a control's widget stands in its window, for the kinds whose face depends on it.
enum class Role {
    Plain,
    FrameTitle,  // a text message drawn as the title of the frame around its section
    Headline,    // in the header above everything
    Caption,     // a text message alone on a row, across all its columns
};

// What an adapter may ask of the view while the user works a widget.
class ControlHost {
public:
    // The model's control, or nullptr once its panel is discarded.
    virtual const Control* control(int handle, int ctrl) const = 0;
    // The control's widget, or nullptr once the view has let its window go.
    virtual QWidget* controlWidget(int handle, int ctrl) const = 0;
    // A value the user chose: raises value-changed then commit (refused: the model's value
    // comes back).
    virtual void userValue(int handle, int ctrl, const Value& v) = 0;
    virtual void userEvent(int handle, int ctrl, int event) = 0;
    // Enter in an entry, with what it holds.
    virtual void userEnter(int handle, int ctrl, const Value& typed) = 0;
    // Puts the model's value back on the widget.
    virtual void showModelValue(int handle, int ctrl) = 0;
    // Tells the user why what they typed was not taken.
    virtual void refuseEntry(const QString& why) = 0;

protected:
    ~ControlHost() = default;
};

class ControlAdapter {
public:
    virtual ~ControlAdapter() = default;
    // A new widget for `c`, owned by `parent`.
    virtual QWidget* create(const Control& c, Role role, QWidget* parent) const = 0;
    // Connects the user's actions on `w` to the host; `w` is the connections' context, so
    // nothing reaches the host once the widget is gone.
    virtual void connect(QWidget& w, const Control& c, int handle, ControlHost& host) const = 0;
    // Shows the control's value, with the widget's signals already blocked by the caller.
    virtual void showValue(QWidget& w, const Control& c) const = 0;
    // Shows dimming, text colour and whatever else of the attributes the face carries.
    virtual void showAttributes(QWidget& w, const Control& c, Role role) const = 0;
    // Hands an edit the user has not confirmed to the model, before a button acts on it.
    // False when the edit is not a value the control takes: the user has been told why, the
    // widget shows the model's value again, and the button must not act.
    virtual bool commitPending(QWidget& w, const Control& c, int handle, ControlHost& host) const = 0;
    // The face shows the control's label itself (a button), so the row needs no label.
    virtual bool labelsItself() const { return false; }
    // How the widget sits in the value column: faces of a fixed size keep to the left.
    virtual Qt::Alignment cellAlignment() const { return {}; }
};

// The adapter for `kind`. A kind without one throws std::logic_error naming it: a control
// the view cannot show must stop the program where it is made, not vanish from its window.
const ControlAdapter& AdapterFor(Kind kind);

// The adapters the table holds, one per face; kinds may share one (ring slides and binary
// switches are both rows of choice buttons).
const ControlAdapter& NumberEntryAdapter();
const ControlAdapter& TextEntryAdapter();
const ControlAdapter& TextMessageAdapter();
const ControlAdapter& DropDownAdapter();
const ControlAdapter& ChoiceButtonsAdapter();
const ControlAdapter& LampAdapter();
const ControlAdapter& ButtonAdapter();
const ControlAdapter& GaugeAdapter();
const ControlAdapter& PictureAdapter();
const ControlAdapter& FacelessAdapter();

// Adapters hold no state, so one instance serves every window.
template <class A>
const ControlAdapter& TheOne()
{
    static const A adapter;
    return adapter;
}

// Reads a number box's text as a value of control `c`, exactly as typed: an optional '-'
// and digits (and for a fractional control one '.' with digits after it), within the
// control's range. Anything else (empty, a separator, letters, spaces, too many digits,
// out of range) gives no value and, in `why`, a sentence naming what is accepted.
std::optional<Value> ParseNumberEntry(const Control& c, const QString& text, QString* why = nullptr);

inline QString qstr(const std::string& s) { return QString::fromStdString(s); }

// Colours a control's text, giving a light colour a dark ground to stand on, and makes a
// display-only field look like a display.
void ApplyTextColour(QWidget& w, int rgb);

// What every adapter shares: the one cast from the view's QWidget to the widget the
// adapter made, and the default face of dimming and text colour.
template <class W>
class WidgetAdapter : public ControlAdapter {
public:
    QWidget* create(const Control& c, Role role, QWidget* parent) const final { return make(c, role, parent); }
    void connect(QWidget& w, const Control& c, int handle, ControlHost& host) const final
    {
        wire(own(w), c, handle, host);
    }
    void showValue(QWidget& w, const Control& c) const final { show(own(w), c); }
    void showAttributes(QWidget& w, const Control& c, Role role) const final { look(own(w), c, role); }
    bool commitPending(QWidget& w, const Control& c, int handle, ControlHost& host) const final
    {
        return flush(own(w), c, handle, host);
    }

protected:
    virtual W* make(const Control& c, Role role, QWidget* parent) const = 0;
    virtual void wire(W&, const Control&, int /*handle*/, ControlHost&) const {}
    virtual void show(W&, const Control&) const {}
    virtual void look(W& w, const Control& c, Role) const
    {
        w.setEnabled(!c.dimmed);
        ApplyTextColour(w, c.textColor);
    }
    virtual bool flush(W&, const Control&, int /*handle*/, ControlHost&) const { return true; }

private:
    static W& own(QWidget& w)
    {
        W* mine = qobject_cast<W*>(&w);
        if (!mine)
            qFatal("control %s handed to an adapter that did not make its widget", qPrintable(w.objectName()));
        return *mine;
    }
};

}  // namespace vek::ui::qt
