// Numeric codes shared by the panels, their callbacks and the view: events, attributes,
// error results. They keep the values the application's callbacks and resource rely on.
#pragma once

// Events a control callback receives.
inline constexpr int EVENT_COMMIT = 1;       // button press, entry confirmed
inline constexpr int EVENT_VAL_CHANGED = 2;  // the user changed the value
inline constexpr int EVENT_LEFT_DOUBLE_CLICK = 4;
inline constexpr int EVENT_TIMER_TICK = 13;  // a timer control fell due

// Control attributes.
inline constexpr int ATTR_MAX_VALUE = 300;       // number: the largest value the user may enter
inline constexpr int ATTR_MIN_VALUE = 310;       // number: the smallest value the user may enter
inline constexpr int ATTR_DIMMED = 500;          // int 0/1: greyed out, takes no input
inline constexpr int ATTR_SIZE_TO_IMAGE = 530;   // int, recorded only
inline constexpr int ATTR_LABEL_TEXT = 630;      // string: the control's label (a text message's text)
inline constexpr int ATTR_TEXT_COLOR = 690;      // int 0xRRGGBB: colour of the shown text
inline constexpr int ATTR_PASSWORD_MASK = 764;   // int 0/1 on a string: mask what is typed
inline constexpr int ATTR_PICTURE_FRAME = 1290;  // int, recorded only
inline constexpr int ATTR_PICTURE_FIT = 1292;    // int, recorded only

// Panel attributes.
inline constexpr int ATTR_TITLE = 573;          // string: the window title
inline constexpr int ATTR_PANEL_SIZABLE = 580;  // the rest are recorded only
inline constexpr int ATTR_PANEL_MOVABLE = 581;
inline constexpr int ATTR_PANEL_CAN_MINIMIZE = 599;
inline constexpr int ATTR_PANEL_CAN_MAXIMIZE = 600;
inline constexpr int ATTR_PANEL_CLOSE_ITEM = 597;
inline constexpr int ATTR_PANEL_SYSTEM_MENU = 602;

// Control style for NewCtrl.
inline constexpr int CTRL_PICTURE = 480;

inline constexpr int VAL_WHITE = 0xFFFFFF;
inline constexpr int VAL_YELLOW = 0xFFFF00;

// Results of panel and control operations (0 or a handle on success).
inline constexpr int UIE_NO_SUCH_PANEL = -1;  // unknown or discarded panel handle
inline constexpr int UIE_NO_SUCH_CONTROL = -2;
inline constexpr int UIE_TYPE_MISMATCH = -3;        // value of the wrong kind for the control
inline constexpr int UIE_RESOURCE_UNREADABLE = -4;  // missing file or not a panel resource
inline constexpr int UIE_NO_SUCH_PANEL_ID = -5;     // the resource holds no panel of that id
inline constexpr int UIE_UNKNOWN_CALLBACK = -6;     // a control names a callback nobody registered
inline constexpr int UIE_STATE_FILE = -7;           // panel state file missing, unreadable or unwritable
inline constexpr int UIE_NO_SUCH_STATE = -8;        // the state file holds no such state index
