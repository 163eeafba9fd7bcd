// Every size, gap and colour of the windows, in one place, so the look is tuned here and
// nowhere else. Sizes that follow the font are counted in characters or text lines; the
// rest are pixels.
#pragma once

#include <QRgb>

namespace vek::ui::qt::style {

// --- text fields ---
// What a line edit takes beside its text: its frame and inner margins, both sides.
inline constexpr int kFieldChrome = 12;
// Numbers need a dozen digits at most; wider fields only push labels and values apart.
inline constexpr int kNumberFieldMinDigits = 7;
inline constexpr int kNumberFieldMaxDigits = 14;
// A text field for at most this many characters is sized to them (one wide character
// more); longer ones get at least kTextFieldMinChars and grow with the window.
inline constexpr int kShortTextMaxChars = 8;
inline constexpr int kTextFieldMinChars = 12;
// A window's headline against the body text.
inline constexpr double kHeadlineScale = 1.35;
// A middle-elided line is given room for this many characters before it elides.
inline constexpr int kElidedMinChars = 16;

// --- window layout ---
inline constexpr int kHeaderSpacing = 12;   // between the logo and the headline
inline constexpr int kColumnSpacing = 10;   // between side-by-side columns of frames
inline constexpr int kFrameSpacing = 10;    // between frames stacked in one column
inline constexpr int kCellSpacing = 10;     // between a row's label, value and unit
inline constexpr int kBlockGap = 16;        // between side-by-side blocks of rows in one frame
inline constexpr int kButtonRowGap = 6;     // above the row of buttons
inline constexpr int kWindowMinChars = 36;  // the narrowest window, in average characters

// --- control faces ---
inline constexpr int kLampMargin = 4;            // a lamp is a text line tall plus this
inline constexpr double kLampOutlineRoom = 2.0;  // the lamp's circle keeps this inside its widget
inline constexpr int kUnknownValueIndent = 6;    // "? (n)" after a row of choice buttons
inline constexpr int kLogoMaxLines = 4;          // a header picture is at most this many lines tall

// The level gauge, left to right: the scale's numbers, a gap, its ticks, the tank; the
// value is written under the tank.
inline constexpr int kGaugeScaleGap = 4;  // after the widest scale number
inline constexpr int kGaugeTankGap = 6;   // between the scale's numbers and the tank
inline constexpr int kGaugeRightMargin = 2;
inline constexpr int kGaugeTickLength = 4;
inline constexpr int kGaugeTankRadius = 3;
inline constexpr int kGaugeFillInset = 2;  // the level stands this far inside the tank
inline constexpr int kGaugeFillRadius = 2;
inline constexpr int kGaugeValueGap = 4;        // between the tank and the value under it
inline constexpr int kGaugeValueMargin = 8;     // beside the widest value text
inline constexpr int kGaugeTankWidthLines = 3;  // the tank is as wide as this many lines are tall
inline constexpr int kGaugeHeightLines = 11;
inline constexpr int kGaugeMinHeightLines = 7;

// --- colours ---
inline constexpr QRgb kFaultLamp = qRgb(0xe0, 0x30, 0x20);  // lamps that report a fault
inline constexpr QRgb kStateLamp = qRgb(0x30, 0xc0, 0x40);  // relay states
// An entry left with text its box does not take, until it is refused, corrected or taken back.
inline constexpr QRgb kRefusedText = qRgb(0xc0, 0x20, 0x10);
inline constexpr QRgb kGaugeLevel = qRgb(0x2a, 0x7a, 0xc0);
// The program's light text colours are meant for a dark display field: text lighter than
// kLightText (grey level) is put on kDarkGround.
inline constexpr int kLightText = 150;
inline constexpr QRgb kDarkGround = qRgb(0x2b, 0x2f, 0x33);
// A display-only field is this much darker than the window (QColor::darker's factor).
inline constexpr int kDisplayFieldShade = 104;

}  // namespace vek::ui::qt::style
