#include "qt/control_adapter.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include <stdexcept>
#include <string>
#include <utility>

#include "qt/view_style.h"

namespace vek::ui::qt {

const ControlAdapter& AdapterFor(Kind kind)
{
    static const std::pair<Kind, const ControlAdapter*> table[] = {
        {Kind::Numeric, &NumberEntryAdapter()},
        {Kind::String, &TextEntryAdapter()},
        {Kind::TextMsg, &TextMessageAdapter()},
        {Kind::Ring, &DropDownAdapter()},
        {Kind::RingSlide, &ChoiceButtonsAdapter()},
        {Kind::Binary, &ChoiceButtonsAdapter()},
        {Kind::Led, &LampAdapter()},
        {Kind::Button, &ButtonAdapter()},
        {Kind::Tank, &GaugeAdapter()},
        {Kind::Picture, &PictureAdapter()},
        {Kind::Decoration, &FacelessAdapter()},
        {Kind::Timer, &FacelessAdapter()},
    };
    for (const auto& [k, adapter] : table)
        if (k == kind)
            return *adapter;
    throw std::logic_error("the Qt view has no widget for control kind " + std::to_string(static_cast<int>(kind)));
}

// The program's text colours (white, yellow) are meant for a dark display field; on our
// light windows they would vanish, so a light text colour also gets a dark ground under it.
void ApplyTextColour(QWidget& w, int rgb)
{
    QPalette pal = QApplication::palette(&w);
    if (const auto* le = qobject_cast<const QLineEdit*>(&w); le && le->isReadOnly()) {
        // Display-only fields look like displays, not like boxes waiting for typing.
        pal.setColor(QPalette::Base, pal.color(QPalette::Window).darker(style::kDisplayFieldShade));
    }
    const bool light = rgb >= 0 && qGray(QColor::fromRgb(static_cast<QRgb>(rgb)).rgb()) > style::kLightText;
    if (rgb >= 0) {
        const QColor col = QColor::fromRgb(static_cast<QRgb>(rgb));
        for (auto group : {QPalette::Active, QPalette::Inactive})
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                pal.setColor(group, role, col);
        if (light) {
            const QColor ground(style::kDarkGround);
            pal.setColor(QPalette::Base, ground);
            pal.setColor(QPalette::Window, ground);
        }
    }
    w.setPalette(pal);
    // A label paints no ground of its own unless told to.
    if (qobject_cast<QLabel*>(&w))
        w.setAutoFillBackground(light);
}

}  // namespace vek::ui::qt
