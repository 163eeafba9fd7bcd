// The resource reader: Panel_def.uir (JSON) into panel definitions. A resource it cannot
// take is refused whole, with the reason in words for whoever edits it.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include "panel_hints.h"
#include "panel_model.h"
#include "panel_values.h"

namespace vek::ui {

namespace {

std::optional<Kind> kindOf(const QString& s)
{
    static const std::map<QString, Kind> kinds = {
        {"numeric", Kind::Numeric}, {"string", Kind::String},         {"textmsg", Kind::TextMsg},
        {"ring", Kind::Ring},       {"ringslide", Kind::RingSlide},   {"binary", Kind::Binary},
        {"led", Kind::Led},         {"button", Kind::Button},         {"tank", Kind::Tank},
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
        {"int", DataType::Int},           {"short", DataType::Short}, {"unsigned short", DataType::UShort},
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
    case Kind::TextMsg: return DataType::String;
    case Kind::Numeric:
    case Kind::Ring:
    case Kind::RingSlide:
    case Kind::Binary:
    case Kind::Led:
    case Kind::Button: return DataType::Int;
    case Kind::Tank: return DataType::Double;
    default: return DataType::None;
    }
}

std::string str(const QString& s) { return s.toStdString(); }

}  // namespace

int ParsePanelResource(const std::string& json, int panelId, Panel& out, std::string* why)
{
    auto refuse = [why](std::string text) {
        if (why)
            *why = std::move(text);
        return UIE_RESOURCE_UNREADABLE;
    };
    // The program loads several panels of one resource in a row: the text is parsed once
    // and its document kept for as long as the same text comes back.
    thread_local std::string lastText;
    thread_local QJsonDocument lastDoc;
    thread_local QJsonParseError lastErr{};
    if (lastText.empty() || json != lastText) {
        lastErr = QJsonParseError{};
        lastDoc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &lastErr);
        lastText = json;
    }
    const QJsonDocument& doc = lastDoc;
    const QJsonParseError& err = lastErr;
    if (err.error != QJsonParseError::NoError)
        return refuse("not JSON: " + str(err.errorString()) + " at character " + std::to_string(err.offset));
    if (!doc.isObject())
        return refuse("not a panel resource: expected a JSON object");
    const QJsonValue panels = doc.object().value("panels");
    if (!panels.isArray())
        return refuse("not a panel resource: no \"panels\" list");
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
        const std::string panelName = "panel " + (p.constant.empty() ? std::to_string(panelId) : p.constant);
        if (p.constant.empty())
            return refuse(panelName + ": no constant");
        if (!po.value("controls").isArray())
            return refuse(panelName + ": no \"controls\" list");
        int index = 0;
        for (const QJsonValue& cv : po.value("controls").toArray()) {
            const QJsonObject co = cv.toObject();
            Control c;
            c.id = co.value("id").toInt(-1);
            c.constant = str(co.value("constant").toString());
            const std::string where =
                panelName + ", control " + (c.constant.empty() ? "number " + std::to_string(index + 1) : c.constant);
            ++index;
            const auto kind = kindOf(co.value("kind").toString());
            if (c.id <= 0)
                return refuse(where + ": no id, or one below 1");
            if (c.constant.empty())
                return refuse(where + ": no constant");
            if (!kind)
                return refuse(where + ": unknown kind \"" + str(co.value("kind").toString()) + "\"");
            if (const Control* twin = p.find(c.id))
                return refuse(where + ": id " + std::to_string(c.id) + " is " + twin->constant + "'s already");
            c.kind = *kind;
            if (co.contains("type")) {
                const auto t = typeOf(co.value("type").toString());
                // A text message is text whatever else it claims; a number in one breaks SetCtrlVal's contract.
                if (!t)
                    return refuse(where + ": unknown type \"" + str(co.value("type").toString()) + "\"");
                if (c.kind == Kind::TextMsg && *t != DataType::String)
                    return refuse(where + ": a text message holds text, not a number");
                c.type = *t;
            } else {
                c.type = defaultType(c.kind);
            }
            c.indicator = co.value("mode").toString() == "indicator" || c.kind == Kind::Led || c.kind == Kind::Tank ||
                          c.kind == Kind::TextMsg;
            c.label = str(co.value(c.kind == Kind::TextMsg ? "text" : "label").toString());
            c.callbackName = str(co.value("callback").toString());
            for (const QJsonValue& iv : co.value("items").toArray()) {
                const QJsonArray pair = iv.toArray();
                // An item value no whole number can hold is not one of ours (and no cast of it is defined).
                if (pair.size() != 2 || !pair[0].isString() || !pair[1].isDouble() ||
                    !(std::fabs(pair[1].toDouble()) < 9.2e18))
                    return refuse(where + ": an item is not a [label, whole number] pair");
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
                return refuse(where + ": a timer needs an interval above 0 and below 1000000 s");
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
            if (c.type != DataType::None && detail::coerce(c.type, def, c.value) < 0)
                return refuse(where + ": the default does not fit the control's type");
            p.controls.push_back(std::move(c));
        }
        // The hints name controls, so they are read once every control is known.
        if (po.contains("layout"))
            if (std::string bad = detail::readLayoutHints(po.value("layout"), p); !bad.empty())
                return refuse(panelName + ", " + bad);
        out = std::move(p);
        return 0;
    }
    if (why)
        *why = "no panel with id " + std::to_string(panelId);
    return UIE_NO_SUCH_PANEL_ID;
}

}  // namespace vek::ui
