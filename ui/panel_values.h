// Typed control values, shared by the resource reader, the state file and the model: each
// of them stores a value into a control, and all must store it the same way.
#pragma once

#include "panel_model.h"

namespace vek::ui::detail {

// Brings a value to the control's data type, as the control would store it: 0, or
// UIE_TYPE_MISMATCH for text into a number, a number into text, or a number no whole
// number of the type's width can be made from.
int coerce(DataType t, const Value& in, Value& out);

}  // namespace vek::ui::detail
