// The reader of a panel's layout hints, called by the resource reader once the panel's
// controls are read.
#pragma once

#include <QJsonValue>

#include <string>

#include "panel_model.h"

namespace vek::ui::detail {

// Reads the panel's "layout" object into p.layout. Every control a hint names must be one
// of p's controls. Returns what is wrong, or "" when the hints are good.
std::string readLayoutHints(const QJsonValue& layout, Panel& p);

}  // namespace vek::ui::detail
