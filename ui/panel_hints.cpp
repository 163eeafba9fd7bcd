// A panel's layout hints, as the resource gives them:
//
//   "layout": {
//     "header": ["TEXTMSG"],                 headline above the frames
//     "hidden": ["Porta"],                   kept off screen
//     "buttons": ["APPLY", "SAVE"],          the button row's order
//     "quit": "EXIT", "enter": "CONF_VAL",   what closing the window and Enter press
//     "sections": [
//       {"group": "Monitor", "rows": ["DISTANCE_MM", "LEVEL_MM"]},
//       {"titleMsg": "TEXTMSG_2", "column": 1, "split": 2, "wide": true, "horizontal": true,
//        "rows": [{"ctrl": "RL1_TH_VAL", "label": "TEXTMSG_7", "unit": "RL1_TH_UNIT"},
//                 {"ctrl": "FILE_NAME", "beside": "BROWSE"}]}   a button in the unit's place
//     ],
//     "note": "why it is arranged so"        read by people only (also on a section)
//   }
//
// Everything is optional. Hints are checked strictly: a window that silently drops a
// control, or a typo that quietly leaves a frame empty, costs more to find than a resource
// that refuses to load with the reason.
#include "panel_hints.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <set>

namespace vek::ui::detail {

namespace {

// More columns or blocks than a screen shows side by side is a mistake, not a layout.
constexpr int kMaxColumns = 8;
constexpr int kMaxSplit = 8;

struct Refusal {
    std::string why;
};

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::Numeric: return "a numeric";
    case Kind::String: return "a string";
    case Kind::TextMsg: return "a text message";
    case Kind::Ring: return "a ring";
    case Kind::RingSlide: return "a ring slide";
    case Kind::Binary: return "a binary switch";
    case Kind::Led: return "a lamp";
    case Kind::Button: return "a button";
    case Kind::Tank: return "a tank";
    case Kind::Timer: return "a timer";
    case Kind::Decoration: return "a decoration";
    case Kind::Picture: return "a picture";
    }
    return "a control";
}

void onlyKeys(const QJsonObject& o, std::initializer_list<const char*> keys, const std::string& where)
{
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return it.key() == QLatin1String(k); }))
            throw Refusal{where + ": unknown hint \"" + it.key().toStdString() + "\""};
}

class HintReader {
public:
    explicit HintReader(const Panel& p) : p_(p) {}

    LayoutHints read(const QJsonValue& v)
    {
        const QJsonObject o = object(v, "layout");
        onlyKeys(o, {"header", "hidden", "buttons", "quit", "enter", "sections", "note"}, "layout");
        note(o, "layout");
        LayoutHints h;
        // The quit button first: listing it among the other buttons then names the mistake.
        if (o.contains("quit"))
            h.quit = place(button(o.value("quit"), "layout.quit"), "layout.quit");
        if (o.contains("enter"))
            h.enter = button(o.value("enter"), "layout.enter");
        h.hidden = list<int>(o, "hidden",
                             [&](const QJsonValue& e, const std::string& at) { return place(control(e, at), at); });
        h.header = list<int>(o, "header",
                             [&](const QJsonValue& e, const std::string& at) { return place(visible(e, at), at); });
        h.buttons = list<int>(o, "buttons",
                              [&](const QJsonValue& e, const std::string& at) { return place(button(e, at), at); });
        h.sections = list<SectionHint>(o, "sections",
                                       [&](const QJsonValue& e, const std::string& at) { return section(e, at); });
        return h;
    }

private:
    static QJsonObject object(const QJsonValue& v, const std::string& where)
    {
        if (!v.isObject())
            throw Refusal{where + ": expected an object"};
        return v.toObject();
    }

    static void note(const QJsonObject& o, const std::string& where)
    {
        if (o.contains("note") && !o.value("note").isString())
            throw Refusal{where + ".note: expected text"};
    }

    template <class T, class Read>
    static std::vector<T> list(const QJsonObject& o, const char* key, Read read)
    {
        std::vector<T> out;
        const std::string where = std::string("layout.") + key;
        if (!o.contains(key))
            return out;
        if (!o.value(key).isArray())
            throw Refusal{where + ": expected a list"};
        const QJsonArray a = o.value(key).toArray();
        for (qsizetype i = 0; i < a.size(); ++i)
            out.push_back(read(a[i], where + "[" + std::to_string(i) + "]"));
        return out;
    }

    int control(const QJsonValue& v, const std::string& where) const
    {
        if (!v.isString())
            throw Refusal{where + ": expected a control's constant"};
        const std::string name = v.toString().toStdString();
        for (const auto& c : p_.controls)
            if (c.constant == name)
                return c.id;
        throw Refusal{where + ": no control \"" + name + "\" on this panel"};
    }

    int ofKind(const QJsonValue& v, const std::string& where, Kind kind) const
    {
        const int id = control(v, where);
        const Control& c = *p_.find(id);
        if (c.kind != kind)
            throw Refusal{where + ": \"" + c.constant + "\" is " + kindName(c.kind) + ", not " + kindName(kind)};
        return id;
    }

    int button(const QJsonValue& v, const std::string& where) const { return ofKind(v, where, Kind::Button); }
    int textMsg(const QJsonValue& v, const std::string& where) const { return ofKind(v, where, Kind::TextMsg); }

    // A control with a face: decorations and timers are never shown, and pictures always
    // head the window, so a hint placing them elsewhere could not be followed.
    int visible(const QJsonValue& v, const std::string& where, bool pictureAllowed = true) const
    {
        const int id = control(v, where);
        const Control& c = *p_.find(id);
        if (c.kind == Kind::Decoration || c.kind == Kind::Timer || (!pictureAllowed && c.kind == Kind::Picture))
            throw Refusal{where + ": \"" + c.constant + "\" is " + kindName(c.kind) + ", which has no place here"};
        return id;
    }

    // Each control has one place; the first hint to claim it is remembered for the message.
    int place(int id, const std::string& where)
    {
        const auto [it, fresh] = placedAt_.emplace(id, where);
        if (!fresh)
            throw Refusal{where + ": \"" + p_.find(id)->constant + "\" is placed already, at " + it->second};
        return id;
    }

    static int whole(const QJsonObject& o, const char* key, int fallback, int lo, int hi, const std::string& where)
    {
        if (!o.contains(key))
            return fallback;
        const QJsonValue v = o.value(key);
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || d != std::floor(d) || d < lo || d > hi)
            throw Refusal{where + "." + key + ": expected a whole number from " + std::to_string(lo) + " to " +
                          std::to_string(hi)};
        return static_cast<int>(d);
    }

    static bool flag(const QJsonObject& o, const char* key, const std::string& where)
    {
        if (!o.contains(key))
            return false;
        if (!o.value(key).isBool())
            throw Refusal{where + "." + key + ": expected true or false"};
        return o.value(key).toBool();
    }

    SectionHint section(const QJsonValue& v, const std::string& where)
    {
        const QJsonObject o = object(v, where);
        onlyKeys(o, {"group", "titleMsg", "column", "wide", "horizontal", "split", "rows", "note"}, where);
        note(o, where);
        SectionHint s;
        if (o.contains("group")) {
            s.group = o.value("group").toString().toStdString();
            if (!o.value("group").isString() || s.group.empty())
                throw Refusal{where + ".group: expected a group's name"};
            if (std::none_of(p_.controls.begin(), p_.controls.end(),
                             [&](const Control& c) { return c.group == s.group; }))
                throw Refusal{where + ".group: no control carries the group \"" + s.group + "\""};
            const auto [it, fresh] = groupAt_.emplace(s.group, where);
            if (!fresh)
                throw Refusal{where + ".group: \"" + s.group + "\" has its section already, at " + it->second};
        }
        if (o.contains("titleMsg"))
            s.titleMsg = place(textMsg(o.value("titleMsg"), where + ".titleMsg"), where + ".titleMsg");
        s.column = whole(o, "column", 0, 0, kMaxColumns - 1, where);
        s.split = whole(o, "split", 1, 1, kMaxSplit, where);
        s.wide = flag(o, "wide", where);
        s.horizontal = flag(o, "horizontal", where);
        if (o.contains("rows")) {
            if (!o.value("rows").isArray())
                throw Refusal{where + ".rows: expected a list"};
            const QJsonArray rows = o.value("rows").toArray();
            for (qsizetype i = 0; i < rows.size(); ++i)
                s.rows.push_back(row(rows[i], where + ".rows[" + std::to_string(i) + "]"));
        }
        return s;
    }

    // A row is a control's constant, or {"ctrl", "label", "unit"} when text messages stand
    // beside it as its label and unit; "beside" puts a button where the unit would stand,
    // for a button that acts on that one control (a file name's "Browse...").
    RowHint row(const QJsonValue& v, const std::string& where)
    {
        RowHint r;
        if (v.isString()) {
            r.ctrl = place(visible(v, where, false), where);
            return r;
        }
        if (!v.isObject())
            throw Refusal{where + ": expected a control's constant or {\"ctrl\": ...}"};
        const QJsonObject o = v.toObject();
        onlyKeys(o, {"ctrl", "label", "unit", "beside"}, where);
        if (o.contains("unit") && o.contains("beside"))
            throw Refusal{where + ": a row has a unit or a button beside it, not both"};
        if (!o.contains("ctrl"))
            throw Refusal{where + ": a row needs its \"ctrl\""};
        r.ctrl = place(visible(o.value("ctrl"), where + ".ctrl", false), where + ".ctrl");
        if (o.contains("label"))
            r.label = place(textMsg(o.value("label"), where + ".label"), where + ".label");
        if (o.contains("unit"))
            r.unit = place(textMsg(o.value("unit"), where + ".unit"), where + ".unit");
        if (o.contains("beside"))
            r.unit = place(button(o.value("beside"), where + ".beside"), where + ".beside");
        return r;
    }

    const Panel& p_;
    std::map<int, std::string> placedAt_;
    std::map<std::string, std::string> groupAt_;
};

}  // namespace

std::string readLayoutHints(const QJsonValue& layout, Panel& p)
{
    try {
        p.layout = HintReader(p).read(layout);
    } catch (const Refusal& r) {
        return r.why;
    }
    return {};
}

}  // namespace vek::ui::detail
