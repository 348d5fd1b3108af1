// SPDX-License-Identifier: Apache-2.0
// The knob callback and the helper functions that declare knobs in Op::knobs().
#pragma once

#include <cstdint>
#include <string>

#include "DDImage/ChannelSet.h"
#include "DDImage/Knob.h"

namespace DD {
namespace Image {

typedef const char* NAME;
typedef const char* LABEL;

//! Knob type codes, as Knob::ClassID() returns them.
enum {
    OBSOLETE_KNOB = 0,
    STRING_KNOB = 1,
    FILE_KNOB = 2,
    INT_KNOB = 3,
    ENUMERATION_KNOB = 4,
    BITMASK_KNOB = 5,
    BOOL_KNOB = 6,
    DOUBLE_KNOB = 7,
    FLOAT_KNOB = 8,
    ARRAY_KNOB = 9,
    CHANNEL_MASK_KNOB = 10,
    CHANNEL_KNOB = 11,
    TAB_KNOB = 20,
    CUSTOM_KNOB = 21,
    PYSCRIPT_KNOB = 22,
    SPACER_KNOB = 25,
    TEXT_KNOB = 26,
    HELP_KNOB = 27,
    MULTILINE_STRING_KNOB = 28,
    SCRIPT_KNOB = 32
};

//! How the value behind a knob's data pointer is stored.
enum StoreType {
    StringPtr = 0,
    FloatPtr = 1,
    DoublePtr = 2,
    IntPtr = 3,
    UnsignedIntPtr = 4,
    BoolPtr = 5,
    ChannelPtr = 6,
    ChannelSetPtr = 7,
    Custom = 19  //!< no storage
};

//! The extra words of TAB_KNOB: a tab, a group that begins closed, a group end.
constexpr intptr_t kTabKnobTab = 0;
constexpr intptr_t kTabKnobClosedGroup = 2;
constexpr intptr_t kTabKnobGroupEnd = -1;

struct IRange {
    double min = 0, max = 1;
    IRange(double a, double b) : min(a), max(b) {}
};

//! What Op::knobs() is called with. The host calls knobs() once with a closure
//! whose makeKnobs() is true to create the knobs, and again with others to store
//! the knobs' values into the op's fields.
class Knob_Closure {
public:
    virtual ~Knob_Closure() = default;

    //! Declares one knob: type code, store kind, the field holding the value
    //! (null for none), name, label and a type-specific extra pointer.
    //! Returns the knob (may be null on passes that only store values).
    virtual Knob* operator()(int type, StoreType store, void* data, const char* name,
                             const char* label, const void* extra) = 0;

    bool makeKnobs() const { return makeKnobs_; }
    int getKnobCount() const { return knobCount_; }
    //! The knob declared by the last call, or null.
    Knob* lastKnob() const { return lastKnob_; }

protected:
    explicit Knob_Closure(bool makeKnobs) : makeKnobs_(makeKnobs) {}

    bool makeKnobs_;
    int knobCount_ = 0;
    Knob* lastKnob_ = nullptr;
};

typedef Knob_Closure& Knob_Callback;

// Decorators of the knob just declared (applied on the pass that makes knobs).
void Tooltip(Knob_Callback f, const char* text);
void Tooltip(Knob_Callback f, const std::string& text);
void SetFlags(Knob_Callback f, Knob::FlagMask n);
void ClearFlags(Knob_Callback f, Knob::FlagMask n);
void SetRange(Knob_Callback f, double minimum, double maximum);

inline Knob* Int_knob(Knob_Callback f, int* p, NAME n, LABEL l = nullptr) {
    return f(INT_KNOB, IntPtr, p, n, l, nullptr);
}
inline Knob* Bool_knob(Knob_Callback f, bool* p, NAME n, LABEL l = nullptr) {
    return f(BOOL_KNOB, BoolPtr, p, n, l, nullptr);
}
inline Knob* Float_knob(Knob_Callback f, float* p, NAME n, LABEL l = nullptr) {
    return f(FLOAT_KNOB, FloatPtr, p, n, l, nullptr);
}
inline Knob* Float_knob(Knob_Callback f, double* p, NAME n, LABEL l = nullptr) {
    return f(FLOAT_KNOB, DoublePtr, p, n, l, nullptr);
}
inline Knob* Double_knob(Knob_Callback f, double* p, NAME n, LABEL l = nullptr) {
    return f(DOUBLE_KNOB, DoublePtr, p, n, l, nullptr);
}
//! items: a null-terminated list of entry names; the field holds the entry index.
inline Knob* Enumeration_knob(Knob_Callback f, int* p, const char* const* items, NAME n,
                              LABEL l = nullptr) {
    return f(ENUMERATION_KNOB, IntPtr, p, n, l, items);
}
inline Knob* Input_ChannelSet_knob(Knob_Callback f, ChannelSet* p, int input, NAME n,
                                   LABEL l = nullptr) {
    const int args[2] = {input, 0};
    return f(CHANNEL_MASK_KNOB, ChannelSetPtr, p, n, l, args);
}
inline Knob* ChannelSet_knob(Knob_Callback f, ChannelSet* p, NAME n, LABEL l = nullptr) {
    return Input_ChannelSet_knob(f, p, 0, n, l);
}
inline Knob* Tab_knob(Knob_Callback f, LABEL label) {
    return f(TAB_KNOB, Custom, nullptr, nullptr, label, reinterpret_cast<const void*>(kTabKnobTab));
}
inline Knob* BeginClosedGroup(Knob_Callback f, NAME n, LABEL l = nullptr) {
    return f(TAB_KNOB, Custom, nullptr, n, l, reinterpret_cast<const void*>(kTabKnobClosedGroup));
}
inline Knob* EndGroup(Knob_Callback f) {
    return f(TAB_KNOB, Custom, nullptr, nullptr, nullptr,
             reinterpret_cast<const void*>(kTabKnobGroupEnd));
}
//! A text with no label.
inline Knob* Text_knob(Knob_Callback f, LABEL text) {
    return f(TEXT_KNOB, Custom, nullptr, nullptr, nullptr, text);
}
//! A label followed by a text.
inline Knob* Text_knob(Knob_Callback f, LABEL label, const char* text) {
    return f(TEXT_KNOB, Custom, nullptr, nullptr, label, text);
}
//! A text knob that can be found by name (and changed through Text_KnobI).
inline Knob* Named_Text_knob(Knob_Callback f, NAME n, LABEL label, const char* text) {
    return f(TEXT_KNOB, Custom, nullptr, n, label, text);
}
//! A dividing line, with an optional caption.
inline Knob* Divider(Knob_Callback f, LABEL label = nullptr) {
    return f(TEXT_KNOB, Custom, nullptr, nullptr, label, nullptr);
}
//! A button that runs pythonCommand in the host's interpreter.
inline Knob* PyScript_knob(Knob_Callback f, const char* pythonCommand, NAME n, LABEL l = nullptr) {
    return f(PYSCRIPT_KNOB, Custom, nullptr, n, l, pythonCommand);
}

}  // namespace Image
}  // namespace DD
