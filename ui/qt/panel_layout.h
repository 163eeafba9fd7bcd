// Where each control of a panel goes in its window. The resource holds no positions, only
// hints: a `group` per control, and the panel's `layout` (which frame sits in which column,
// which text message titles a frame or labels a value, which unit follows it, the button
// order, which button closing the window presses). The plan follows them and knows nothing
// of particular panels, so the window code only turns a plan into Qt layouts.
//
// Without hints a panel still gets a plan: a frame for each group in the order the groups
// first appear, buttons in resource order, no button pressed by closing the window. A plan
// always places every control exactly once: whatever the hints do not mention is appended
// to the last frame, so a control added to the resource is never lost from view.
#pragma once

#include <string>
#include <vector>

#include "panel_model.h"

namespace vek::ui::qt {

struct RowPlan {
    int ctrl = 0;   // the control in the value column; a text message alone is a caption row
    int label = 0;  // a text message standing in as the row's label (0: the control's own label)
    int unit = 0;   // a text message shown after the value
    int lamp = 0;   // an unlabelled lamp that leads the row (a message beside its lamp)
};

struct SectionPlan {
    std::string title;  // the frame's title when no text message provides one
    int titleCtrl = 0;  // a text message drawn as the frame's title
    int column = 0;
    bool wide = false;        // spans all columns, below them
    bool horizontal = false;  // values side by side instead of one per row
    int split = 1;            // rows shared out over this many side-by-side blocks
    std::vector<RowPlan> rows;
    std::vector<int> side;  // tall gauges, beside the rows
};

struct PanelPlan {
    std::vector<int> header;  // pictures and the headline, above everything
    std::vector<SectionPlan> sections;
    int columns = 1;
    std::vector<int> buttons;  // left to right; the quit button is last
    std::vector<int> hidden;   // decorations (frames are drawn by the sections) and timers
    int quitCtrl = 0;          // pressed by closing the window (0: closing only hides it)
    int enterCtrl = 0;         // pressed by Enter in an entry that has no callback of its own
};

PanelPlan PlanPanel(const Panel& panel);

}  // namespace vek::ui::qt
