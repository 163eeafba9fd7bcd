#include "panel_model.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vek::ui {

namespace {

std::optional<Kind> kindOf(const QString& s)
{
    static const std::map<QString, Kind> kinds = {
        {"numeric", Kind::Numeric}, {"string", Kind::String},   {"textmsg", Kind::TextMsg},
        {"ring", Kind::Ring},       {"ringslide", Kind::RingSlide}, {"binary", Kind::Binary},
        {"led", Kind::Led},         {"button", Kind::Button},   {"tank", Kind::Tank},
        {"timer", Kind::Timer},     {"decoration", Kind::Decoration}, {"picture", Kind::Picture},
    };
    auto it = kinds.find(s);
    if (it == kinds.end())
        return std::nullopt;
    return it->second;
}

std::optional<DataType> typeOf(const QString& s)
{
    static const std::map<QString, DataType> types = {
        {"int", DataType::Int},       {"short", DataType::Short}, {"unsigned short", DataType::UShort},
        {"unsigned int", DataType::UInt}, {"float", DataType::Float}, {"double", DataType::Double},
        {"string", DataType::String},
    };
    auto it = types.find(s);
    if (it == types.end())
        return std::nullopt;
    return it->second;
}

// The data type a control of this kind carries when the resource names none.
DataType defaultType(Kind k)
{
    switch (k) {
    case Kind::String:
    case Kind::TextMsg:
        return DataType::String;
    case Kind::Numeric:
    case Kind::Ring:
    case Kind::RingSlide:
    case Kind::Binary:
    case Kind::Led:
    case Kind::Button:
        return DataType::Int;
    case Kind::Tank:
        return DataType::Double;
    default:
        return DataType::None;
    }
}

// Brings a value to the control's data type, as the control would store it.
int coerce(DataType t, const Value& in, Value& out)
{
    const bool isText = std::holds_alternative<std::string>(in);
    if (t == DataType::String) {
        if (!isText)
            return UIE_TYPE_MISMATCH;
        out = in;
        return 0;
    }
    if (isText || t == DataType::None)
        return UIE_TYPE_MISMATCH;
    if (t == DataType::Float || t == DataType::Double) {
        double d = std::holds_alternative<double>(in) ? std::get<double>(in)
                                                      : static_cast<double>(std::get<long long>(in));
        if (t == DataType::Float)
            d = static_cast<double>(static_cast<float>(d));
        out = d;
        return 0;
    }
    long long v;
    if (std::holds_alternative<double>(in)) {
        const double d = std::get<double>(in);
        if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18)
            return UIE_TYPE_MISMATCH;
        v = static_cast<long long>(d);
    } else {
        v = std::get<long long>(in);
    }
    // Wrap to the width of the control's type, as storing into that C type would.
    switch (t) {
    case DataType::Int: v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); break;
    case DataType::Short: v = static_cast<std::int16_t>(static_cast<std::uint16_t>(v)); break;
    case DataType::UShort: v = static_cast<std::uint16_t>(v); break;
    case DataType::UInt: v = static_cast<std::uint32_t>(v); break;
    default: break;
    }
    out = v;
    return 0;
}

std::string str(const QString& s) { return s.toStdString(); }

}  // namespace

int Control::itemIndexOf(long long v) const
{
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value == v)
            return static_cast<int>(i);
    return -1;
}

bool Control::carriesValue() const
{
    switch (kind) {
    case Kind::Numeric:
    case Kind::String:
    case Kind::Ring:
    case Kind::RingSlide:
    case Kind::Binary:
    case Kind::Led:
    case Kind::Tank:
        return true;
    default:
        return false;
    }
}

Control* Panel::find(int ctrl)
{
    for (auto& c : controls)
        if (c.id == ctrl)
            return &c;
    return nullptr;
}

const Control* Panel::find(int ctrl) const { return const_cast<Panel*>(this)->find(ctrl); }

int ParsePanelResource(const std::string& json, int panelId, Panel& out)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return UIE_RESOURCE_UNREADABLE;
    const QJsonValue panels = doc.object().value("panels");
    if (!panels.isArray())
        return UIE_RESOURCE_UNREADABLE;
    for (const QJsonValue& pv : panels.toArray()) {
        const QJsonObject po = pv.toObject();
        if (po.value("id").toInt(-1) != panelId)
            continue;
        Panel p;
        p.id = panelId;
        p.constant = str(po.value("constant").toString());
        p.title = str(po.value("title").toString());
        // Layout hint: Escape closes a window as its Quit button does, unless it is the
        // program's main window, where a stray key must not end anything.
        p.escapeCloses = po.value("escapeCloses").toBool(true);
        if (p.constant.empty() || !po.value("controls").isArray())
            return UIE_RESOURCE_UNREADABLE;
        for (const QJsonValue& cv : po.value("controls").toArray()) {
            const QJsonObject co = cv.toObject();
            Control c;
            c.id = co.value("id").toInt(-1);
            c.constant = str(co.value("constant").toString());
            const auto kind = kindOf(co.value("kind").toString());
            if (c.id <= 0 || c.constant.empty() || !kind || p.find(c.id))
                return UIE_RESOURCE_UNREADABLE;
            c.kind = *kind;
            if (co.contains("type")) {
                const auto t = typeOf(co.value("type").toString());
                // A text message is text whatever else it claims; a number in one breaks SetCtrlVal's contract.
                if (!t || (c.kind == Kind::TextMsg && *t != DataType::String))
                    return UIE_RESOURCE_UNREADABLE;
                c.type = *t;
            } else {
                c.type = defaultType(c.kind);
            }
            c.indicator = co.value("mode").toString() == "indicator" || c.kind == Kind::Led ||
                          c.kind == Kind::Tank || c.kind == Kind::TextMsg;
            c.label = str(co.value(c.kind == Kind::TextMsg ? "text" : "label").toString());
            c.callbackName = str(co.value("callback").toString());
            for (const QJsonValue& iv : co.value("items").toArray()) {
                const QJsonArray pair = iv.toArray();
                // An item value no whole number can hold is not one of ours (and no cast of it is defined).
                if (pair.size() != 2 || !pair[0].isString() || !pair[1].isDouble() ||
                    !(std::fabs(pair[1].toDouble()) < 9.2e18))
                    return UIE_RESOURCE_UNREADABLE;
                c.items.push_back({str(pair[0].toString()), static_cast<long long>(pair[1].toDouble())});
            }
            if (co.contains("min"))
                c.min = co.value("min").toDouble();
            if (co.contains("max"))
                c.max = co.value("max").toDouble();
            c.precision = co.value("precision").toInt(-1);
            c.maxLength = std::max(0, co.value("maxLength").toInt(0));
            c.group = str(co.value("group").toString());
            c.elideMiddle = co.value("elide").toString() == "middle";
            c.interval = co.value("interval").toDouble(0.0);
            c.enabled = co.value("enabled").toBool(false);
            if (c.kind == Kind::Timer && !(c.interval > 0.0 && c.interval < 1e6))
                return UIE_RESOURCE_UNREADABLE;
            // Default value: the resource's, else the first item of a ring, else zero or empty.
            Value def = c.type == DataType::String ? Value(std::string()) : Value(0LL);
            if (c.kind == Kind::TextMsg)
                def = c.label;
            else if (!c.items.empty())
                def = c.items.front().value;
            const QJsonValue dv = co.value("default");
            if (dv.isString())
                def = str(dv.toString());
            else if (dv.isDouble())
                def = dv.toDouble();  // coerce() makes it whole, and refuses what no whole number holds
            if (c.type != DataType::None && coerce(c.type, def, c.value) < 0)
                return UIE_RESOURCE_UNREADABLE;
            p.controls.push_back(std::move(c));
        }
        out = std::move(p);
        return 0;
    }
    return UIE_NO_SUCH_PANEL_ID;
}

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
    const std::string path = resolvePath(file);
    if (path.empty())
        return UIE_RESOURCE_UNREADABLE;
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return UIE_RESOURCE_UNREADABLE;
    // A panel resource is small; anything huge is not one of ours.
    if (f.size() > 8 * 1024 * 1024)
        return UIE_RESOURCE_UNREADABLE;
    auto p = std::make_unique<Panel>();
    if (int rc = ParsePanelResource(f.readAll().toStdString(), panelId, *p); rc < 0)
        return rc;
    for (auto& c : p->controls) {
        if (c.callbackName.empty())
            continue;
        auto it = callbacks_.find(c.callbackName);
        if (it == callbacks_.end())
            return UIE_UNKNOWN_CALLBACK;
        c.callback = it->second;
        if (c.kind == Kind::Timer)
            c.nextDue = clock_.now() + c.interval;
    }
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
                        : std::holds_alternative<double>(v) ? static_cast<long long>(std::get<double>(v))
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
    default:
        break;
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
    c.attributes[-1] = static_cast<long long>(top);   // position hints, kept for a view that wants them
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

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char ch : s) {
        if (ch == '\\')
            out += "\\\\";
        else if (ch == '\n')
            out += "\\n";
        else if (ch == '\r')
            out += "\\r";
        else
            out += ch;
    }
    return out;
}

std::string unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string formatValue(const Value& v)
{
    if (std::holds_alternative<long long>(v))
        return std::to_string(std::get<long long>(v));
    if (std::holds_alternative<double>(v)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v));
        return buf;
    }
    return escape(std::get<std::string>(v));
}

// Splits a state file into its states: index -> lines in order. Lines before any
// "[N]" header belong to state 0.
std::map<int, std::vector<std::string>> readStates(std::istream& in)
{
    std::map<int, std::vector<std::string>> states;
    int current = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
            try {
                std::size_t used = 0;
                const std::string inner = line.substr(1, line.size() - 2);
                const int idx = std::stoi(inner, &used);
                if (used == inner.size() && idx >= 0) {
                    current = idx;
                    states[current];
                    continue;
                }
            } catch (...) {
            }
        }
        states[current].push_back(line);
    }
    return states;
}

}  // namespace

int PanelModel::SavePanelState(int handle, const std::string& file, int index)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    if (index < 0)
        return UIE_NO_SUCH_STATE;
    std::map<int, std::vector<std::string>> states;
    {
        std::ifstream in(file);
        if (in)
            states = readStates(in);
    }
    std::vector<std::string>& lines = states[index];
    lines.clear();
    for (const auto& c : p->controls)
        if (c.carriesValue())
            lines.push_back(c.constant + "=" + formatValue(c.value));
    std::ostringstream out;
    for (const auto& [idx, ls] : states) {
        out << '[' << idx << "]\n";
        for (const auto& l : ls)
            if (!l.empty())
                out << l << '\n';
    }
    // Written to a temporary file and renamed, so a crash never leaves half a settings file.
    QSaveFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::WriteOnly))
        return UIE_STATE_FILE;
    const std::string text = out.str();
    if (f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
        return UIE_STATE_FILE;
    return f.commit() ? 0 : UIE_STATE_FILE;
}

int PanelModel::RecallPanelState(int handle, const std::string& file, int index)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return UIE_STATE_FILE;
    std::ifstream in(file);
    if (!in)
        return UIE_STATE_FILE;
    const auto states = readStates(in);
    auto it = states.find(index);
    if (it == states.end())
        return UIE_NO_SUCH_STATE;
    for (const std::string& line : it->second) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string text = line.substr(eq + 1);
        Control* c = nullptr;
        for (auto& cc : p->controls)
            if (cc.constant == key && cc.carriesValue())
                c = &cc;
        if (!c)
            continue;
        Value v;
        if (c->type == DataType::String) {
            v = unescape(text);
        } else {
            // Whole numbers for whole-number controls; anything unparsable is skipped.
            char* end = nullptr;
            errno = 0;
            if (c->type == DataType::Float || c->type == DataType::Double) {
                const double d = std::strtod(text.c_str(), &end);
                if (text.empty() || *end != '\0' || errno != 0)
                    continue;
                v = d;
            } else {
                const long long n = std::strtoll(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || errno != 0)
                    continue;
                // A number the control's type cannot hold is a broken file, not a value to wrap.
                Value fitted;
                if (coerce(c->type, Value(n), fitted) < 0 || std::get<long long>(fitted) != n)
                    continue;
                v = n;
            }
        }
        SetCtrlVal(handle, c->id, v);
    }
    return 0;
}

int PanelModel::acceptsUserValue(const Control& c, const Value& v) const
{
    if (c.indicator || c.dimmed || !c.carriesValue())
        return UIE_TYPE_MISMATCH;
    if (c.type != DataType::String) {
        if (std::holds_alternative<std::string>(v))
            return UIE_TYPE_MISMATCH;
        const double d = std::holds_alternative<double>(v) ? std::get<double>(v)
                                                           : static_cast<double>(std::get<long long>(v));
        if (!std::isfinite(d) || (c.min && d < *c.min) || (c.max && d > *c.max))
            return UIE_TYPE_MISMATCH;
        // A whole-number control takes whole numbers: 12.5 must not quietly become 12.
        const bool whole = c.type != DataType::Float && c.type != DataType::Double;
        if (whole && d != std::floor(d))
            return UIE_TYPE_MISMATCH;
        if (!c.items.empty() && c.itemIndexOf(static_cast<long long>(d)) < 0)
            return UIE_TYPE_MISMATCH;
    } else if (c.maxLength > 0 && std::holds_alternative<std::string>(v)) {
        // The limit counts characters as the user sees them: "é" is one, though two bytes.
        const std::string& text = std::get<std::string>(v);
        const auto chars = std::count_if(text.begin(), text.end(), [](char ch) { return (ch & 0xC0) != 0x80; });
        if (chars > c.maxLength)
            return UIE_TYPE_MISMATCH;
    }
    return 0;
}

int PanelModel::UserSetValue(int handle, int ctrl, const Value& v)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    if (int rc = acceptsUserValue(*c, v); rc < 0)
        return rc;
    if (depth_ > 0) {
        queue_.push_back({handle, ctrl, 0, 0, 0, v});
    } else if (int rc = SetCtrlVal(handle, ctrl, v); rc < 0) {
        return rc;
    }
    PostEvent(handle, ctrl, EVENT_VAL_CHANGED);
    PostEvent(handle, ctrl, EVENT_COMMIT);
    return 0;
}

void PanelModel::PostEvent(int handle, int ctrl, int event, int data1, int data2)
{
    queue_.push_back({handle, ctrl, event, data1, data2, std::nullopt});
    ProcessEvents();
}

void PanelModel::invoke(Panel& p, Control& c, int event, int data1, int data2)
{
    // Copy the callback: the panel (and the control with it) may be discarded inside it.
    CtrlCallback cb = c.callback;
    const int handle = p.handle, id = c.id;
    ++depth_;
    try {
        cb(handle, id, event, nullptr, data1, data2);
    } catch (...) {
        --depth_;
        throw;
    }
    --depth_;
}

void PanelModel::ProcessEvents()
{
    if (depth_ > 0)
        return;
    while (!queue_.empty()) {
        const Event e = queue_.front();
        queue_.pop_front();
        Panel* p = find(e.panel);
        Control* c = p ? p->find(e.ctrl) : nullptr;
        if (e.apply) {
            // The user's value lands now, after the readback of the callback that was running.
            // A control dimmed meanwhile takes nothing, and its events go nowhere either.
            if (c && !c->dimmed)
                SetCtrlVal(e.panel, e.ctrl, *e.apply);
            continue;
        }
        // Events for a window discarded meanwhile, or a dimmed control, go nowhere.
        if (!c || !c->callback || c->dimmed)
            continue;
        invoke(*p, *c, e.event, e.data1, e.data2);
    }
}

double PanelModel::nextTimerDue() const
{
    double due = std::numeric_limits<double>::infinity();
    for (const auto& [h, p] : panels_)
        for (const auto& c : p->controls)
            if (c.kind == Kind::Timer && c.enabled && c.callback)
                due = std::min(due, c.nextDue);
    return due;
}

void PanelModel::FireDueTimers()
{
    if (depth_ > 0)
        return;
    for (;;) {
        const double now = clock_.now();
        Panel* duePanel = nullptr;
        Control* dueCtrl = nullptr;
        for (auto& [h, p] : panels_)
            for (auto& c : p->controls)
                if (c.kind == Kind::Timer && c.enabled && c.callback && c.nextDue <= now &&
                    (!dueCtrl || c.nextDue < dueCtrl->nextDue)) {
                    duePanel = p.get();
                    dueCtrl = &c;
                }
        if (!dueCtrl)
            break;
        // A tick that fell far behind (a long wait) fires once, not once per missed interval.
        dueCtrl->nextDue = std::max(dueCtrl->nextDue + dueCtrl->interval, now);
        if (dueCtrl->nextDue <= now)
            dueCtrl->nextDue = now + dueCtrl->interval;
        invoke(*duePanel, *dueCtrl, EVENT_TIMER_TICK, 0, 0);
        ProcessEvents();
    }
}

}  // namespace vek::ui
