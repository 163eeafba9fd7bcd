// The kinds the user types into: numbers and strings, both plain line edits.
#include <QLineEdit>
#include <QPalette>

#include <climits>
#include <cmath>

#include "qt/control_adapter.h"
#include "qt/view_style.h"

namespace vek::ui::qt {

namespace {

bool isWhole(DataType t)
{
    return t == DataType::Int || t == DataType::Short || t == DataType::UShort || t == DataType::UInt;
}

std::pair<double, double> typeRange(DataType t)
{
    switch (t) {
    case DataType::Short: return {-32768.0, 32767.0};
    case DataType::UShort: return {0.0, 65535.0};
    case DataType::UInt: return {0.0, 4294967295.0};
    case DataType::Int: return {double(INT_MIN), double(INT_MAX)};
    default: return {-1e9, 1e9};
    }
}

QString rangeText(double v) { return QString::number(v, 'g', 12); }

QString formatNumber(const Control& c)
{
    if (const auto* d = std::get_if<double>(&c.value)) {
        if (c.precision >= 0)
            return QString::number(*d, 'f', c.precision);
        return QString::number(*d, 'g', c.type == DataType::Float ? 7 : 15);
    }
    if (const auto* n = std::get_if<long long>(&c.value))
        return QString::number(*n);
    return qstr(std::get<std::string>(c.value));
}

int textWidth(const QLineEdit& le, int chars, QChar ch)
{
    return le.fontMetrics().horizontalAdvance(QString(chars, ch)) + style::kFieldChrome;
}

// A display-only field can still be clicked into (to select and copy), but Tab walks the
// inputs, not every display.
void makeDisplayOnly(QLineEdit& le)
{
    le.setReadOnly(true);
    le.setFocusPolicy(Qt::ClickFocus);
}

// Text the user is typing and has not yet committed stays as typed: a readback in the
// middle of "17" must not leave "1". The model takes the device's value meanwhile, and the
// box shows it once the focus leaves without a commit.
void showUnlessTyping(QLineEdit& le, const QString& text)
{
    if (!le.isReadOnly() && le.isModified())
        return;
    if (le.text() != text)
        le.setText(text);
}

class NumberEntry final : public WidgetAdapter<QLineEdit> {
    // A plain text box, no validator and no spin arrows: a validator silently drops the
    // characters it dislikes ("300" becomes "30"), so the box shows exactly what was typed
    // and Enter decides, with a message when it refuses.
    QLineEdit* make(const Control& c, Role, QWidget* parent) const override
    {
        auto* le = new QLineEdit(parent);
        if (c.indicator)
            makeDisplayOnly(*le);
        le->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        le->setMinimumWidth(textWidth(*le, style::kNumberFieldMinDigits, QChar('0')));
        le->setMaximumWidth(textWidth(*le, style::kNumberFieldMaxDigits, QChar('0')));
        return le;
    }

    void wire(QLineEdit& le, const Control& c, int handle, ControlHost& host) const override
    {
        if (c.indicator)
            return;
        const int id = c.id;
        QObject::connect(&le, &QLineEdit::returnPressed, &le, [&host, handle, id] { entered(host, handle, id); });
        // Enter also ends editing, with the focus still in the box; only leaving it counts here.
        QObject::connect(&le, &QLineEdit::editingFinished, &le, [&host, handle, id, box = &le] {
            if (!box->hasFocus())
                left(host, handle, id);
        });
        // Typing again takes back the mark of an entry that was not taken.
        QObject::connect(&le, &QLineEdit::textEdited, &le, [&host, handle, id] { unmark(host, handle, id); });
    }

    void show(QLineEdit& le, const Control& c) const override { showUnlessTyping(le, formatNumber(c)); }

    // A button acts on what the box shows, exactly as Enter in the box would: a value it takes
    // is handed over first; anything else is refused, so the button does not act on an older value.
    bool flush(QLineEdit& le, const Control& c, int handle, ControlHost& host) const override
    {
        if (!le.isModified())
            return true;
        QString why;
        const std::optional<Value> v = ParseNumberEntry(c, le.text(), &why);
        if (!v) {
            refuse(host, handle, c.id, why);
            return false;
        }
        take(host, handle, c.id, *v);
        return true;
    }

    // Enter takes the text exactly as typed or refuses it with a message.
    static void entered(ControlHost& host, int handle, int ctrl)
    {
        auto* le = qobject_cast<QLineEdit*>(host.controlWidget(handle, ctrl));
        const Control* c = host.control(handle, ctrl);
        if (!le || !c)
            return;
        QString why;
        const std::optional<Value> v = ParseNumberEntry(*c, le->text(), &why);
        if (!v) {
            refuse(host, handle, ctrl, why);
            return;
        }
        unmark(host, handle, ctrl);
        le->setModified(false);
        host.userEnter(handle, ctrl, *v);
    }

    // Leaving the box takes a valid entry. Anything else stays in the box as typed, marked as
    // not taken: the focus leaves on its way to a button (a click, Tab then Space), and that
    // button must still see the entry to refuse it, not the value from before.
    static void left(ControlHost& host, int handle, int ctrl)
    {
        auto* le = qobject_cast<QLineEdit*>(host.controlWidget(handle, ctrl));
        const Control* c = host.control(handle, ctrl);
        if (!le || !c || !le->isModified())
            return;
        QString why;
        if (const std::optional<Value> v = ParseNumberEntry(*c, le->text(), &why)) {
            take(host, handle, ctrl, *v);
            return;
        }
        le->setToolTip(QStringLiteral("Not taken: ") + why);
        QPalette pal = le->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            pal.setColor(group, QPalette::Text, QColor(style::kRefusedText));
        le->setPalette(pal);
        le->setProperty(kRefusedProp, true);
    }

    static void take(ControlHost& host, int handle, int ctrl, const Value& v)
    {
        unmark(host, handle, ctrl);
        auto* le = qobject_cast<QLineEdit*>(host.controlWidget(handle, ctrl));
        const Control* c = host.control(handle, ctrl);
        if (!le || !c)
            return;
        le->setModified(false);
        if (v != c->value)
            host.userValue(handle, ctrl, v);
        else
            host.showModelValue(handle, ctrl);
    }

    // Nothing is taken and nothing is written; the box goes back to the model's value and the
    // user is told why.
    static void refuse(ControlHost& host, int handle, int ctrl, const QString& why)
    {
        unmark(host, handle, ctrl);
        if (auto* le = qobject_cast<QLineEdit*>(host.controlWidget(handle, ctrl)))
            le->setModified(false);
        host.showModelValue(handle, ctrl);
        host.refuseEntry(why);
    }

    static void unmark(ControlHost& host, int handle, int ctrl)
    {
        auto* le = qobject_cast<QLineEdit*>(host.controlWidget(handle, ctrl));
        const Control* c = host.control(handle, ctrl);
        if (!le || !c || !le->property(kRefusedProp).toBool())
            return;
        le->setProperty(kRefusedProp, false);
        le->setToolTip(QString());
        ApplyTextColour(*le, c->textColor);
    }

    static constexpr const char* kRefusedProp = "vekRefusedEntry";
};

class TextEntry final : public WidgetAdapter<QLineEdit> {
    QLineEdit* make(const Control& c, Role, QWidget* parent) const override
    {
        auto* le = new QLineEdit(parent);
        if (c.indicator)
            makeDisplayOnly(*le);
        if (c.maxLength > 0)
            le->setMaxLength(c.maxLength);
        if (c.maxLength > 0 && c.maxLength <= style::kShortTextMaxChars) {
            // A field for a few characters should look like one.
            le->setFixedWidth(textWidth(*le, c.maxLength + 1, QChar('W')));
            le->setAlignment(Qt::AlignCenter);
        } else {
            le->setMinimumWidth(textWidth(*le, style::kTextFieldMinChars, QChar('x')));
        }
        return le;
    }

    void wire(QLineEdit& le, const Control& c, int handle, ControlHost& host) const override
    {
        if (c.indicator)
            return;
        const int id = c.id;
        QObject::connect(&le, &QLineEdit::returnPressed, &le, [&host, handle, id, box = &le] {
            box->setModified(false);
            host.userEnter(handle, id, box->text().toStdString());
        });
        // Leaving a changed field commits it, as Enter would; an unchanged one says nothing.
        QObject::connect(&le, &QLineEdit::editingFinished, &le, [&host, handle, id, box = &le] {
            const Control* ctl = host.control(handle, id);
            const Value typed = box->text().toStdString();
            box->setModified(false);
            if (ctl && ctl->value != typed)
                host.userValue(handle, id, typed);
        });
    }

    void show(QLineEdit& le, const Control& c) const override
    {
        const auto* text = std::get_if<std::string>(&c.value);
        showUnlessTyping(le, text ? qstr(*text) : QString());
    }

    void look(QLineEdit& le, const Control& c, Role role) const override
    {
        WidgetAdapter::look(le, c, role);
        le.setEchoMode(c.passwordMask ? QLineEdit::Password : QLineEdit::Normal);
    }

    bool flush(QLineEdit& le, const Control& c, int handle, ControlHost& host) const override
    {
        const Value typed = le.text().toStdString();
        if (typed != c.value)
            host.userValue(handle, c.id, typed);
        return true;
    }
};

}  // namespace

std::optional<Value> ParseNumberEntry(const Control& c, const QString& text, QString* why)
{
    const bool whole = isWhole(c.type);
    const auto [tlo, thi] = typeRange(c.type);
    const double lo = c.min.value_or(tlo), hi = c.max.value_or(thi);
    const QString name = c.label.empty() ? QStringLiteral("This value") : qstr(c.label);
    const QString accepted = QStringLiteral("%1 takes %2 from %3 to %4.")
                                 .arg(name, whole ? QStringLiteral("a whole number") : QStringLiteral("a number"),
                                      rangeText(lo), rangeText(hi));
    auto refuse = [&](const QString& reason) -> std::optional<Value> {
        if (why)
            *why = reason + QLatin1Char(' ') + accepted + QStringLiteral(" Nothing was written or changed.");
        return std::nullopt;
    };
    if (text.isEmpty())
        return refuse(QStringLiteral("Nothing was typed."));
    // Digits only, as typed: a sign, digits, and for a fractional control one point.
    int i = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    int digits = 0, point = -1;
    for (; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
            ++digits;
        else if (ch == QLatin1Char('.') && point < 0 && !whole)
            point = i;
        else
            return refuse(QStringLiteral("\"%1\" is not %2.")
                              .arg(text, whole ? QStringLiteral("a whole number") : QStringLiteral("a number")));
    }
    if (digits == 0 || (point >= 0 && point == text.size() - 1))
        return refuse(QStringLiteral("\"%1\" is not a number.").arg(text));
    bool ok = false;
    const double d = text.toDouble(&ok);  // the C locale: '.' is the only point
    if (!ok || !std::isfinite(d) || d < lo || d > hi)
        return refuse(QStringLiteral("%1 is out of range.").arg(text));
    if (whole)
        return Value(text.toLongLong());
    return Value(c.type == DataType::Float ? static_cast<double>(static_cast<float>(d)) : d);
}

const ControlAdapter& NumberEntryAdapter() { return TheOne<NumberEntry>(); }
const ControlAdapter& TextEntryAdapter() { return TheOne<TextEntry>(); }

}  // namespace vek::ui::qt
