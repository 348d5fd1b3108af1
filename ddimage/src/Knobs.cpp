// SPDX-License-Identifier: Apache-2.0
// The knob decorators: they change the knob just made, on the pass that makes knobs.
#include "DDImage/Knobs.h"

namespace DD {
namespace Image {

// Store passes also run knobs(); applying flags again there would undo
// whatever knob_changed has since shown, hidden or enabled.

void Tooltip(Knob_Callback f, const char* text) {
    if (f.makeKnobs() && f.lastKnob())
        f.lastKnob()->tooltip(text ? text : "");
}

void Tooltip(Knob_Callback f, const std::string& text) {
    Tooltip(f, text.c_str());
}

void SetFlags(Knob_Callback f, Knob::FlagMask n) {
    if (f.makeKnobs() && f.lastKnob())
        f.lastKnob()->set_flag(n);
}

void ClearFlags(Knob_Callback f, Knob::FlagMask n) {
    if (f.makeKnobs() && f.lastKnob())
        f.lastKnob()->clear_flag(n);
}

void SetRange(Knob_Callback, double, double) {}

}  // namespace Image
}  // namespace DD
