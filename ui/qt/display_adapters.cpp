// The kinds the user picks from, presses or only looks at: text messages, drop-downs,
// choice buttons, lamps, buttons, the level gauge, pictures, and the kinds with no face.
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <cmath>

#include "qt/control_adapter.h"
#include "qt/control_widgets.h"
#include "qt/view_style.h"

namespace vek::ui::qt {

namespace {

double asDouble(const Value& v)
{
    if (const auto* n = std::get_if<long long>(&v))
        return static_cast<double>(*n);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    return 0.0;
}

long long asWhole(const Value& v)
{
    if (const auto* n = std::get_if<long long>(&v))
        return *n;
    if (const auto* d = std::get_if<double>(&v))
        return std::isfinite(*d) ? std::llround(*d) : 0;
    return 0;
}

QStringList itemLabels(const Control& c)
{
    QStringList labels;
    for (const auto& it : c.items)
        labels << qstr(it.label);
    return labels;
}

// A text message is a label, a middle-elided line, a headline, a caption, or the title of
// the frame around its section, as its place in the window decides.
class TextMessage final : public WidgetAdapter<QWidget> {
    QWidget* make(const Control& c, Role role, QWidget* parent) const override
    {
        if (role == Role::FrameTitle)
            return new SectionBox(qstr(c.label), parent);
        if (c.elideMiddle) {
            auto* el = new ElidedLabel(parent);
            el->setFullText(qstr(c.label));
            return el;
        }
        auto* l = new QLabel(qstr(c.label), parent);
        if (role == Role::Headline) {
            QFont f = l->font();
            f.setBold(true);
            f.setPointSizeF(f.pointSizeF() * style::kHeadlineScale);
            l->setFont(f);
        }
        l->setWordWrap(role == Role::Caption);
        return l;
    }

    void show(QWidget& w, const Control& c) const override
    {
        if (auto* sb = qobject_cast<SectionBox*>(&w))
            sb->setTitle(qstr(c.label));
        else if (auto* el = qobject_cast<ElidedLabel*>(&w))
            el->setFullText(qstr(c.label));
        else if (auto* l = qobject_cast<QLabel*>(&w))
            l->setText(qstr(c.label));
        w.setAccessibleName(qstr(c.label));
    }

    void look(QWidget& w, const Control& c, Role role) const override
    {
        // Dimming a frame's title must not grey the controls inside, which keep their own
        // dimmed state.
        if (auto* sb = qobject_cast<SectionBox*>(&w); sb && role == Role::FrameTitle) {
            sb->setTitleDimmed(c.dimmed);
            sb->setTitleColor(c.textColor >= 0 ? QColor::fromRgb(static_cast<QRgb>(c.textColor)) : QColor());
            return;
        }
        WidgetAdapter::look(w, c, role);
    }
};

// A value matching no item shows as "? (N)", which is itself no choice.
class DropDown final : public WidgetAdapter<RingBox> {
    RingBox* make(const Control& c, Role, QWidget* parent) const override
    {
        auto* ring = new RingBox(itemLabels(c), parent);
        ring->setReadOnly(c.indicator);
        return ring;
    }

    void wire(RingBox& ring, const Control& c, int handle, ControlHost& host) const override
    {
        const int id = c.id;
        QObject::connect(&ring, &QComboBox::activated, &ring, [&host, handle, id](int index) {
            const Control* ctl = host.control(handle, id);
            if (ctl && index >= 0 && index < static_cast<int>(ctl->items.size()))
                host.userValue(handle, id, ctl->items[static_cast<std::size_t>(index)].value);
            else
                host.showModelValue(handle, id);
        });
    }

    void show(RingBox& ring, const Control& c) const override
    {
        const long long v = asWhole(c.value);
        ring.showItem(c.itemIndexOf(v), v);
    }

    void look(RingBox& ring, const Control& c, Role) const override
    {
        // A drop-down the user cannot change (an indicator) looks it.
        ring.setEnabled(!c.dimmed && !ring.isReadOnly());
        ApplyTextColour(ring, c.textColor);
    }
};

// Ring slides and binary switches: every item a button, side by side.
class Choices final : public WidgetAdapter<ChoiceButtons> {
    ChoiceButtons* make(const Control& c, Role, QWidget* parent) const override
    {
        return new ChoiceButtons(itemLabels(c), parent);
    }

    void wire(ChoiceButtons& choice, const Control& c, int handle, ControlHost& host) const override
    {
        const int id = c.id;
        QObject::connect(&choice, &ChoiceButtons::chosen, &choice, [&host, handle, id](int index) {
            const Control* ctl = host.control(handle, id);
            if (!ctl || index >= static_cast<int>(ctl->items.size()))
                return;
            const long long v = ctl->items[static_cast<std::size_t>(index)].value;
            // Pressing the state already shown changes nothing and says nothing.
            if (ctl->value != Value(v))
                host.userValue(handle, id, v);
        });
    }

    void show(ChoiceButtons& choice, const Control& c) const override
    {
        const long long v = asWhole(c.value);
        choice.setCurrent(c.itemIndexOf(v), v);
    }
};

class Lamp final : public WidgetAdapter<LedLamp> {
    LedLamp* make(const Control& c, Role, QWidget* parent) const override
    {
        // Lamps that report a fault light red; the others (relay states) light green.
        const bool fault = c.constant.find("ERROR") != std::string::npos;
        return new LedLamp(QColor(fault ? style::kFaultLamp : style::kStateLamp), parent);
    }

    void show(LedLamp& lamp, const Control& c) const override { lamp.setLit(asWhole(c.value) != 0); }

    Qt::Alignment cellAlignment() const override { return Qt::AlignLeft; }
};

class PushButton final : public WidgetAdapter<QPushButton> {
    QPushButton* make(const Control& c, Role, QWidget* parent) const override
    {
        auto* b = new QPushButton(qstr(c.label), parent);
        b->setAutoDefault(false);
        return b;
    }

    void wire(QPushButton& b, const Control& c, int handle, ControlHost& host) const override
    {
        const int id = c.id;
        QObject::connect(&b, &QPushButton::clicked, &b,
                         [&host, handle, id] { host.userEvent(handle, id, EVENT_COMMIT); });
    }

    void look(QPushButton& b, const Control& c, Role role) const override
    {
        WidgetAdapter::look(b, c, role);
        b.setText(qstr(c.label));
    }

    bool labelsItself() const override { return true; }
    Qt::Alignment cellAlignment() const override { return Qt::AlignLeft; }
};

class Gauge final : public WidgetAdapter<TankGauge> {
    TankGauge* make(const Control& c, Role, QWidget* parent) const override
    {
        auto* g = new TankGauge(parent);
        g->setRange(c.min.value_or(0.0), c.max.value_or(100.0));
        return g;
    }

    void show(TankGauge& g, const Control& c) const override
    {
        const double v = asDouble(c.value);
        g.setValue(v, QString::number(v, 'f', c.precision >= 0 ? c.precision : 1));
    }
};

class Picture final : public WidgetAdapter<PictureBox> {
    PictureBox* make(const Control&, Role, QWidget* parent) const override { return new PictureBox(parent); }

    void show(PictureBox& pic, const Control& c) const override
    {
        pic.setImage(c.imageLoaded ? qstr(c.imagePath) : QString());
    }
};

// Frames carry no position in the resource, so the sections draw the frames, and a timer
// has nothing to show; both stay invisible widgets (the plan hides them) so every control
// has a widget and attributes set on them still land somewhere.
class Faceless final : public WidgetAdapter<QFrame> {
    QFrame* make(const Control&, Role, QWidget* parent) const override { return new QFrame(parent); }
};

}  // namespace

const ControlAdapter& TextMessageAdapter() { return TheOne<TextMessage>(); }
const ControlAdapter& DropDownAdapter() { return TheOne<DropDown>(); }
const ControlAdapter& ChoiceButtonsAdapter() { return TheOne<Choices>(); }
const ControlAdapter& LampAdapter() { return TheOne<Lamp>(); }
const ControlAdapter& ButtonAdapter() { return TheOne<PushButton>(); }
const ControlAdapter& GaugeAdapter() { return TheOne<Gauge>(); }
const ControlAdapter& PictureAdapter() { return TheOne<Picture>(); }
const ControlAdapter& FacelessAdapter() { return TheOne<Faceless>(); }

}  // namespace vek::ui::qt
