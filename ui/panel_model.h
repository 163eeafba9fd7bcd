// The toolkit-free panel model: the single truth for every panel and control value.
//
// LoadPanel parses the panel's definition from the resource (Panel_def.uir, JSON) and
// creates a panel object holding each control's id, constant, kind, data type, value,
// items and attributes. A view (the Qt windows) observes the model and feeds the user's
// actions back through UserSetValue/PostEvent; without a view the same model runs
// headless for tests, fuzzing and benchmarks.
//
// Dispatch: callbacks and timer ticks run one at a time, each to its end. An event raised
// while a callback runs (including during its Delay) is queued and dispatched after it,
// in order. A programmatic SetCtrlVal never raises a callback. A callback that throws is a
// fault of the program: the dispatch catches it as a last defence, tells the user through
// the presenter, and goes on with the next event and tick.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "clock.h"
#include "ui_codes.h"

namespace vek::ui {
using platform::Clock;
}

namespace vek::ui {

enum class Kind { Numeric, String, TextMsg, Ring, RingSlide, Binary, Led, Button, Tank, Timer, Decoration, Picture };
enum class DataType { None, Int, Short, UShort, UInt, Float, Double, String };

// A control value: whole numbers, floating point, or text.
using Value = std::variant<long long, double, std::string>;

// panel handle, control id, event, callback data, event data 1 and 2; returns 0.
using CtrlCallback = std::function<int(int, int, int, void*, int, int)>;
using CallbackRegistry = std::map<std::string, CtrlCallback>;

struct RingItem {
    std::string label;
    long long value;
};

struct Control {
    int id = 0;
    std::string constant;
    Kind kind = Kind::Decoration;
    DataType type = DataType::None;
    bool indicator = false;  // display only: the user cannot change it
    std::string label;       // label, or a text message's text
    std::string callbackName;
    CtrlCallback callback;
    std::vector<RingItem> items;  // rings, ring slides, binary switches
    Value value = 0LL;
    std::optional<double> min, max;  // accepted range for user input
    int precision = -1;              // digits after the point for floating display (-1: view decides)
    int maxLength = 0;               // longest text the user may type (0: no limit)
    std::string group;               // layout hint: the frame this control belongs to
    bool elideMiddle = false;        // layout hint: a long text loses its middle, not its end
    bool dimmed = false;
    int textColor = -1;  // 0xRRGGBB, -1 = the view's default
    bool passwordMask = false;
    std::map<int, Value> attributes;  // every attribute ever set, by code
    double interval = 0.0;            // timers
    bool enabled = false;
    double nextDue = 0.0;
    std::string imagePath;  // pictures
    bool imageLoaded = false;

    // Index of the item holding `v`, or -1 when no item does.
    int itemIndexOf(long long v) const;
    bool carriesValue() const;  // saved by SavePanelState
};

// Layout hints: how a view arranges a panel, from the panel's "layout" object in the
// resource. Controls are named there by constant and held here by id; the reader refuses a
// hint that names no control of the panel, so a view can rely on every id below.
struct RowHint {
    int ctrl = 0;   // the control in the value column
    int label = 0;  // a text message standing in as the row's label (0: the control's own)
    int unit = 0;   // a text message shown after the value
};

struct SectionHint {
    std::string group;  // members: the controls carrying this group hint
    int titleMsg = 0;   // a text message as the frame's title (0: the one reading `group`)
    int column = 0;
    bool wide = false;          // spans all columns, below them
    bool horizontal = false;    // values side by side instead of one per row
    int split = 1;              // rows shared out over this many side-by-side blocks
    std::vector<RowHint> rows;  // placed first, in this order; then the group's other members
};

struct LayoutHints {
    std::vector<int> header;   // above everything (after any picture)
    std::vector<int> hidden;   // kept off screen besides decorations and timers
    std::vector<int> buttons;  // the button row's order; other buttons follow in resource order
    std::vector<SectionHint> sections;
    int quit = 0;   // pressed by closing the window; ends the button row
    int enter = 0;  // pressed by Enter in an entry with no callback of its own
};

struct Panel {
    int handle = 0;
    int id = 0;
    std::string constant;
    std::string title;
    bool escapeCloses = true;  // layout hint: Escape presses the window's Quit
    LayoutHints layout;
    bool visible = false;
    std::vector<Control> controls;  // in resource order
    std::map<int, Value> attributes;

    Control* find(int ctrl);
    const Control* find(int ctrl) const;
};

// What a view needs to know; every call happens after the model has changed.
class Presenter;

class PanelObserver {
public:
    virtual ~PanelObserver() = default;
    virtual void panelLoaded(int /*handle*/) {}
    virtual void panelDiscarded(int /*handle*/) {}
    virtual void panelShown(int /*handle*/) {}
    virtual void panelHidden(int /*handle*/) {}
    virtual void panelActivated(int /*handle*/) {}
    virtual void panelAttributeChanged(int /*handle*/, int /*attr*/) {}
    virtual void controlAdded(int /*handle*/, int /*ctrl*/) {}
    virtual void controlValueChanged(int /*handle*/, int /*ctrl*/) {}
    virtual void controlAttributeChanged(int /*handle*/, int /*ctrl*/, int /*attr*/) {}
    virtual void controlFocused(int /*handle*/, int /*ctrl*/) {}
};

class PanelModel {
public:
    // `resourceDir` is where relative resource and image names are looked up first (the
    // executable's folder); the working directory is the fallback.
    PanelModel(Clock& clock, CallbackRegistry callbacks, std::string resourceDir = {});
    ~PanelModel();
    PanelModel(const PanelModel&) = delete;
    PanelModel& operator=(const PanelModel&) = delete;

    void setObserver(PanelObserver* observer) { observer_ = observer; }
    // Where an exception that escaped a callback is shown ("internal error: ..."), as a
    // notice that does not wait; without one it goes to standard error.
    void setPresenter(Presenter* presenter) { presenter_ = presenter; }
    void setCallbacks(CallbackRegistry callbacks) { callbacks_ = std::move(callbacks); }

    // Loads a fresh copy of panel `panelId` and returns its new handle (never reused), or a
    // negative UIE_ code: missing/unreadable/malformed resource, unknown panel id, or a
    // control naming a callback that is not registered. The copy starts hidden; its timers
    // start running.
    int LoadPanel(int parent, const std::string& file, int panelId);
    // Why the last LoadPanel failed, for a person to read; empty after one that succeeded.
    const std::string& loadError() const { return loadError_; }
    int DiscardPanel(int panel);
    int DisplayPanel(int panel);
    int HidePanel(int panel);
    int SetActivePanel(int panel);
    int SetActiveCtrl(int panel, int ctrl);
    int SetPanelAttribute(int panel, int attr, const Value& v);
    int GetPanelAttribute(int panel, int attr, Value& out) const;

    // Typed by the control's data type: whole numbers wrap to its width, floats round to
    // single precision, text goes only into text controls. A ring takes any number; the view
    // shows one that matches no item as unknown.
    int SetCtrlVal(int panel, int ctrl, const Value& v);
    template <class T>
    requires std::is_arithmetic_v<T>
    int SetCtrlVal(int panel, int ctrl, T v)
    {
        if constexpr (std::is_floating_point_v<T>)
            return SetCtrlVal(panel, ctrl, Value(static_cast<double>(v)));
        else
            return SetCtrlVal(panel, ctrl, Value(static_cast<long long>(v)));
    }
    int SetCtrlVal(int panel, int ctrl, const char* text) { return SetCtrlVal(panel, ctrl, Value(std::string(text))); }

    int GetCtrlValue(int panel, int ctrl, Value& out) const;
    template <class T>
    int GetCtrlVal(int panel, int ctrl, T& out) const
    {
        Value v;
        if (int rc = GetCtrlValue(panel, ctrl, v); rc < 0)
            return rc;
        if constexpr (std::is_same_v<T, std::string>) {
            if (!std::holds_alternative<std::string>(v))
                return UIE_TYPE_MISMATCH;
            out = std::get<std::string>(v);
        } else {
            static_assert(std::is_arithmetic_v<T>);
            if (std::holds_alternative<long long>(v))
                out = static_cast<T>(std::get<long long>(v));
            else if (std::holds_alternative<double>(v))
                out = static_cast<T>(std::get<double>(v));
            else
                return UIE_TYPE_MISMATCH;
        }
        return 0;
    }

    // 500 dims, 630 sets a label (a text message's text), 690 a text colour, 764 masks a
    // string; every other code is recorded only.
    int SetCtrlAttribute(int panel, int ctrl, int attr, const Value& v);
    int GetCtrlAttribute(int panel, int ctrl, int attr, Value& out) const;

    // Adds a control at run time (only CTRL_PICTURE is supported); returns its id.
    int NewCtrl(int panel, int style, const std::string& label, int top, int left);
    // Points a picture at an image file; missing files leave the picture empty (negative result).
    int DisplayImageFile(int panel, int ctrl, const std::string& path);
    // Restarts a timer control's interval from now.
    int ResetTimer(int panel, int ctrl);

    // Saves every value-carrying control as CONSTANT=value lines under "[index]" in `file`,
    // keeping the other states already in it; the file is replaced atomically.
    int SavePanelState(int panel, const std::string& file, int index);
    // Restores the values saved under `index`; unknown keys and malformed lines are skipped.
    // Negative when the file cannot be read or holds no such state.
    int RecallPanelState(int panel, const std::string& file, int index);

    // --- the user's side (the view, and tests acting as the user) ---
    // Sets a value as the user would, then raises EVENT_VAL_CHANGED and EVENT_COMMIT.
    // Refused (negative, nothing raised) for indicators, dimmed controls, and numbers
    // outside the control's range. While a callback runs (one waiting for the user in a
    // message box) the value is queued with its events and applied when its turn comes, so
    // the callback that reacts to it sees the chosen value.
    int UserSetValue(int panel, int ctrl, const Value& v);
    // Queues an event for the control's callback and dispatches it unless a callback runs.
    void PostEvent(int panel, int ctrl, int event, int data1 = 0, int data2 = 0);
    // Runs queued events, unless called from inside a callback.
    void ProcessEvents();
    bool busy() const { return depth_ > 0; }
    // A callback is waiting for the user (a message box, a question, a file dialog) rather
    // than for the line: between these two calls the timers may tick, so the polls go on
    // while a dialog is open. Calls nest.
    void EnterUserWait() { ++userWaits_; }
    void LeaveUserWait() { --userWaits_; }
    // True when no callback runs, or every one that runs waits for the user.
    bool timersMayTick() const { return depth_ <= userWaits_; }
    // Earliest time a running timer falls due (infinity when none).
    double nextTimerDue() const;
    // Fires every timer due by clock.now(), one at a time; nothing while a callback runs that
    // does not wait for the user (one inside an exchange's wait).
    void FireDueTimers();

    // Runs `work` as a callback (one at a time with the others, an exception reported as an
    // internal error naming `where`), then the events that came meanwhile: how work that
    // waited for the link goes on.
    void RunAsCallback(const std::function<void()>& work, const std::string& where);
    // Shows "internal error: ..." through the presenter, without waiting for the user.
    void ReportInternalError(const std::string& what, const std::string& where);
    // While held (calls count), a control keeps the value the user chose: SetCtrlVal leaves
    // it alone, so a readback that comes before the user's write cannot undo the choice.
    void HoldUserValue(int panel, int ctrl);
    void ReleaseUserValue(int panel, int ctrl);

    // --- inspection ---
    const Panel* panel(int handle) const;
    const Control* control(int handle, int ctrl) const;
    std::vector<int> handles() const;
    int activePanel() const { return active_; }
    int focusedControl(int handle) const;
    Clock& clock() { return clock_; }
    // Where a relative resource or image name is found, or "" when nowhere.
    std::string resolvePath(const std::string& name) const;

private:
    struct Event {
        int panel, ctrl, event, data1, data2;
        std::optional<Value> apply;  // a user's value, set before the events behind it
    };
    // Checks a value the user gives against the control: 0 or a negative UIE_ code.
    int acceptsUserValue(const Control& c, const Value& v) const;
    Panel* find(int handle);
    Control* findCtrl(int handle, int ctrl);
    void invoke(Panel& p, Control& c, int event, int data1, int data2);

    Clock& clock_;
    CallbackRegistry callbacks_;
    std::string resourceDir_;
    std::string loadError_;
    PanelObserver* observer_ = nullptr;
    Presenter* presenter_ = nullptr;
    std::map<int, std::unique_ptr<Panel>> panels_;
    std::map<int, int> focus_;
    int nextHandle_ = 1;
    int active_ = 0;
    void guarded(const std::function<void()>& work, const std::string& where);
    std::map<std::pair<int, int>, int> held_;  // (panel, control): values held by their writes
    bool userSetting_ = false;                 // the user's own value, which a hold lets through
    int setAsUser(int handle, int ctrl, const Value& v);
    int depth_ = 0;
    int userWaits_ = 0;
    std::deque<Event> queue_;
};

// Parses a panel resource; returns the panel with id `panelId` or a negative UIE_ code,
// and then, when `why` is given, what is wrong in words a person editing the resource can
// act on. Callbacks are left unbound. Exposed for the resource tests and the fuzzer.
int ParsePanelResource(const std::string& json, int panelId, Panel& out, std::string* why = nullptr);

}  // namespace vek::ui
