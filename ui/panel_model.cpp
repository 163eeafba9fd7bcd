// The panel model: panels, their controls, values and attributes, and the observer that
// a view hangs on them. The resource reader, the state file and dispatch live beside it.
#include "panel_model.h"

#include <QFile>

#include <algorithm>
#include <filesystem>

#include "panel_values.h"

namespace vek::ui {

using detail::coerce;

PanelModel::PanelModel(Clock& clock, CallbackRegistry callbacks, std::string resourceDir)
    : clock_(clock), callbacks_(std::move(callbacks)), resourceDir_(std::move(resourceDir))
{
}

PanelModel::~PanelModel() = default;

std::string PanelModel::resolvePath(const std::string& name) const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::path(name).is_absolute())
        return fs::exists(name, ec) ? name : std::string();
    if (!resourceDir_.empty()) {
        const fs::path p = fs::path(resourceDir_) / name;
        if (fs::exists(p, ec))
            return p.string();
    }
    return fs::exists(name, ec) ? name : std::string();
}

Panel* PanelModel::find(int handle)
{
    auto it = panels_.find(handle);
    return it == panels_.end() ? nullptr : it->second.get();
}

const Panel* PanelModel::panel(int handle) const
{
    auto it = panels_.find(handle);
    return it == panels_.end() ? nullptr : it->second.get();
}

Control* PanelModel::findCtrl(int handle, int ctrl)
{
    Panel* p = find(handle);
    return p ? p->find(ctrl) : nullptr;
}

const Control* PanelModel::control(int handle, int ctrl) const
{
    const Panel* p = panel(handle);
    return p ? p->find(ctrl) : nullptr;
}

std::vector<int> PanelModel::handles() const
{
    std::vector<int> out;
    for (const auto& [h, p] : panels_)
        out.push_back(h);
    return out;
}

int PanelModel::focusedControl(int handle) const
{
    auto it = focus_.find(handle);
    return it == focus_.end() ? 0 : it->second;
}

int PanelModel::LoadPanel(int /*parent*/, const std::string& file, int panelId)
{
    auto fail = [this](int rc, std::string why) {
        loadError_ = std::move(why);
        return rc;
    };
    const std::string path = resolvePath(file);
    if (path.empty())
        return fail(UIE_RESOURCE_UNREADABLE, file + ": not found");
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return fail(UIE_RESOURCE_UNREADABLE, path + ": " + f.errorString().toStdString());
    // A panel resource is small; anything huge is not one of ours.
    if (f.size() > 8 * 1024 * 1024)
        return fail(UIE_RESOURCE_UNREADABLE, path + ": too large for a panel resource");
    auto p = std::make_unique<Panel>();
    std::string why;
    if (int rc = ParsePanelResource(f.readAll().toStdString(), panelId, *p, &why); rc < 0)
        return fail(rc, path + ": " + why);
    for (auto& c : p->controls) {
        if (c.callbackName.empty())
            continue;
        auto it = callbacks_.find(c.callbackName);
        if (it == callbacks_.end())
            return fail(UIE_UNKNOWN_CALLBACK, path + ": panel " + p->constant + ", control " + c.constant +
                                                  ": no callback \"" + c.callbackName + "\" in this program");
        c.callback = it->second;
        if (c.kind == Kind::Timer)
            c.nextDue = clock_.now() + c.interval;
    }
    loadError_.clear();
    const int handle = nextHandle_++;
    p->handle = handle;
    panels_.emplace(handle, std::move(p));
    if (observer_)
        observer_->panelLoaded(handle);
    return handle;
}

int PanelModel::DiscardPanel(int handle)
{
    auto it = panels_.find(handle);
    if (it == panels_.end())
        return UIE_NO_SUCH_PANEL;
    // The view lets go of its window first, while the panel can still be looked at. It
    // may discard the same panel again meanwhile, so look the handle up afresh.
    if (observer_)
        observer_->panelDiscarded(handle);
    it = panels_.find(handle);
    if (it == panels_.end())
        return 0;
    panels_.erase(it);
    focus_.erase(handle);
    if (active_ == handle)
        active_ = 0;
    return 0;
}

int PanelModel::DisplayPanel(int handle)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    p->visible = true;
    if (observer_)
        observer_->panelShown(handle);
    return 0;
}

int PanelModel::HidePanel(int handle)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    p->visible = false;
    if (observer_)
        observer_->panelHidden(handle);
    return 0;
}

int PanelModel::SetActivePanel(int handle)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    active_ = handle;
    if (observer_)
        observer_->panelActivated(handle);
    return 0;
}

int PanelModel::SetActiveCtrl(int handle, int ctrl)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    if (!findCtrl(handle, ctrl))
        return UIE_NO_SUCH_CONTROL;
    focus_[handle] = ctrl;
    if (observer_)
        observer_->controlFocused(handle, ctrl);
    return 0;
}

int PanelModel::SetPanelAttribute(int handle, int attr, const Value& v)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    if (attr == ATTR_TITLE) {
        if (!std::holds_alternative<std::string>(v))
            return UIE_TYPE_MISMATCH;
        p->title = std::get<std::string>(v);
    }
    p->attributes[attr] = v;
    if (observer_)
        observer_->panelAttributeChanged(handle, attr);
    return 0;
}

int PanelModel::GetPanelAttribute(int handle, int attr, Value& out) const
{
    const Panel* p = panel(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    if (attr == ATTR_TITLE) {
        out = p->title;
        return 0;
    }
    auto it = p->attributes.find(attr);
    out = it == p->attributes.end() ? Value(0LL) : it->second;
    return 0;
}

int PanelModel::SetCtrlVal(int handle, int ctrl, const Value& v)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    // A value the user chose whose write waits for the link has the last word: a readback
    // meanwhile neither shows nor keeps the older value, so the window never steps back.
    if (!userSetting_ && held_.count({handle, ctrl}))
        return 0;
    if (c->kind == Kind::TextMsg) {
        if (!std::holds_alternative<std::string>(v))
            return UIE_TYPE_MISMATCH;
        c->label = std::get<std::string>(v);
        c->value = v;
    } else if (int rc = coerce(c->type, v, c->value); rc < 0) {
        return rc;
    }
    if (observer_)
        observer_->controlValueChanged(handle, ctrl);
    return 0;
}

void PanelModel::HoldUserValue(int handle, int ctrl) { ++held_[{handle, ctrl}]; }

void PanelModel::ReleaseUserValue(int handle, int ctrl)
{
    const auto it = held_.find({handle, ctrl});
    if (it != held_.end() && --it->second <= 0)
        held_.erase(it);
}

int PanelModel::GetCtrlValue(int handle, int ctrl, Value& out) const
{
    if (!panel(handle))
        return UIE_NO_SUCH_PANEL;
    const Control* c = control(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    out = c->value;
    return 0;
}

int PanelModel::SetCtrlAttribute(int handle, int ctrl, int attr, const Value& v)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    const bool isText = std::holds_alternative<std::string>(v);
    const long long n = std::holds_alternative<long long>(v) ? std::get<long long>(v)
                        : std::holds_alternative<double>(v)  ? static_cast<long long>(std::get<double>(v))
                                                             : 0;
    switch (attr) {
    case ATTR_DIMMED:
        if (isText)
            return UIE_TYPE_MISMATCH;
        c->dimmed = n != 0;
        break;
    case ATTR_LABEL_TEXT:
        if (!isText)
            return UIE_TYPE_MISMATCH;
        c->label = std::get<std::string>(v);
        if (c->kind == Kind::TextMsg)
            c->value = v;
        break;
    case ATTR_TEXT_COLOR:
        if (isText)
            return UIE_TYPE_MISMATCH;
        c->textColor = static_cast<int>(n & 0xFFFFFF);
        break;
    case ATTR_PASSWORD_MASK:
        if (isText)
            return UIE_TYPE_MISMATCH;
        c->passwordMask = n != 0;
        break;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE: {
        if (isText || c->kind != Kind::Numeric)
            return UIE_TYPE_MISMATCH;
        const double d = std::holds_alternative<double>(v) ? std::get<double>(v) : static_cast<double>(n);
        (attr == ATTR_MIN_VALUE ? c->min : c->max) = d;
        break;
    }
    default: break;
    }
    c->attributes[attr] = v;
    if (observer_)
        observer_->controlAttributeChanged(handle, ctrl, attr);
    return 0;
}

int PanelModel::GetCtrlAttribute(int handle, int ctrl, int attr, Value& out) const
{
    if (!panel(handle))
        return UIE_NO_SUCH_PANEL;
    const Control* c = control(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    switch (attr) {
    case ATTR_DIMMED: out = static_cast<long long>(c->dimmed); return 0;
    case ATTR_LABEL_TEXT: out = c->label; return 0;
    case ATTR_TEXT_COLOR: out = static_cast<long long>(c->textColor); return 0;
    case ATTR_PASSWORD_MASK: out = static_cast<long long>(c->passwordMask); return 0;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE: {
        const std::optional<double>& bound = attr == ATTR_MIN_VALUE ? c->min : c->max;
        if (!bound)
            break;
        out = *bound;
        return 0;
    }
    default: break;
    }
    auto it = c->attributes.find(attr);
    out = it == c->attributes.end() ? Value(0LL) : it->second;
    return 0;
}

int PanelModel::NewCtrl(int handle, int style, const std::string& label, int top, int left)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    if (style != CTRL_PICTURE)
        return UIE_TYPE_MISMATCH;
    int id = 1;
    for (const auto& c : p->controls)
        id = std::max(id, c.id + 1);
    Control c;
    c.id = id;
    c.constant = "PICTURE_" + std::to_string(id);
    c.kind = Kind::Picture;
    c.label = label;
    c.attributes[-1] = static_cast<long long>(top);  // position hints, kept for a view that wants them
    c.attributes[-2] = static_cast<long long>(left);
    p->controls.push_back(std::move(c));
    if (observer_)
        observer_->controlAdded(handle, id);
    return id;
}

int PanelModel::DisplayImageFile(int handle, int ctrl, const std::string& path)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c || c->kind != Kind::Picture)
        return UIE_NO_SUCH_CONTROL;
    const std::string resolved = resolvePath(path);
    c->imagePath = resolved;
    c->imageLoaded = !resolved.empty();
    if (observer_)
        observer_->controlValueChanged(handle, ctrl);
    return c->imageLoaded ? 0 : UIE_STATE_FILE;
}

int PanelModel::ResetTimer(int handle, int ctrl)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c || c->kind != Kind::Timer)
        return UIE_NO_SUCH_CONTROL;
    c->nextDue = clock_.now() + c->interval;
    return 0;
}

}  // namespace vek::ui
