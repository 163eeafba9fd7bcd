// Typed values: how a control stores what it is given, and what a control is.
#include "panel_values.h"

#include <cmath>
#include <cstdint>

namespace vek::ui {

namespace detail {

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
        double d =
            std::holds_alternative<double>(in) ? std::get<double>(in) : static_cast<double>(std::get<long long>(in));
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

}  // namespace detail

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
    case Kind::Tank: return true;
    default: return false;
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

}  // namespace vek::ui
