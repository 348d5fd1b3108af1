// SPDX-License-Identifier: Apache-2.0
// Knob: one control of a node's panel, and ValueStuffI, its value interface.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "DDImage/Hash.h"

namespace DD {
namespace Image {

class Knob_Closure;
class OutputContext;
class Enumeration_KnobI;

//! Reads and writes a knob's values, plain or animated (key frames).
//! Setters default to every channel (-1), getters to channel 0.
class ValueStuffI {
public:
    virtual ~ValueStuffI() = default;

    bool set_value(double v, int channel = -1);
    bool set_value_at(double v, double time, int channel = -1);
    bool set_key(int channel = -1, int view = -1);
    bool set_key_at(double time, int channel = -1, int view = -1);
    bool remove_key(int channel = -1);
    bool remove_key_at(double time, int channel = -1, int view = -1);
    bool is_key_at(double time, int channel = -1, int view = -1) const;
    double get_value(int channel = 0) const;
    double get_value_at(double time, int channel = 0) const;
    double get_value_at(const OutputContext& oc, int channel = 0) const;
    int getNumKeys(int channel = -1, int view = -1) const;
    void clear_animated(int channel = -1);

protected:
    // What a concrete knob implements; the public calls above forward here.
    virtual bool storeValue(double /*v*/, int /*channel*/) { return false; }
    virtual bool storeValueAt(double /*v*/, double /*time*/, int /*channel*/) { return false; }
    virtual bool eraseKeyAt(double /*time*/, int /*channel*/) { return false; }
    virtual double valueAt(double /*time*/, int /*channel*/) const { return 0.0; }
    virtual double currentValue(int /*channel*/) const { return 0.0; }
    virtual void keyTimes(std::set<double>& /*times*/, int /*channel*/) const {}
    virtual void clearAnimation(int /*channel*/) {}
    //! The time set_key() and remove_key() act at (the host's current frame).
    virtual double currentTime() const { return 0.0; }
};

class Knob : public ValueStuffI {
public:
    typedef U64 FlagMask;
    enum CallbackReason { kDestroying, kIsVisible, kUpdateWidgets, kChanged };
    typedef int (*Callback)(void* closure, CallbackReason);

    static constexpr FlagMask SLIDER = 0x2;
    static constexpr FlagMask LOG_SLIDER = 0x4;
    static constexpr FlagMask DISABLED = 0x80;
    static constexpr FlagMask NO_ANIMATION = 0x100;
    static constexpr FlagMask DO_NOT_WRITE = 0x200;
    static constexpr FlagMask INVISIBLE = 0x400;
    static constexpr FlagMask RESIZABLE = 0x800;
    static constexpr FlagMask STARTLINE = 0x1000;
    static constexpr FlagMask ENDLINE = 0x2000;
    static constexpr FlagMask NO_RERENDER = 0x4000;
    static constexpr FlagMask NO_HANDLES = 0x8000;
    static constexpr FlagMask KNOB_CHANGED_ALWAYS = 0x10000;
    static constexpr FlagMask NO_KNOB_CHANGED = 0x20000;
    static constexpr FlagMask HIDDEN = 0x40000;
    static constexpr FlagMask NO_UNDO = 0x80000;
    static constexpr FlagMask ALWAYS_SAVE = 0x100000;
    static constexpr FlagMask NODE_KNOB = 0x200000;
    static constexpr FlagMask HANDLES_ANYWAY = 0x400000;
    static constexpr FlagMask SAVE_MENU = 0x2000000;
    static constexpr FlagMask READ_ONLY = 0x10000000;
    static constexpr FlagMask EARLY_STORE = 0x80000000;

    //! Passed to knob_changed when the node's panel opens; compare by address.
    static Knob showPanel;

    Knob(Knob_Closure* c, const char* name, const char* label = nullptr);
    ~Knob() override;

    virtual const char* Class() const { return "Knob"; }
    //! The knob type code (INT_KNOB, TEXT_KNOB, ...).
    virtual int ClassID() const { return -1; }

    const std::string& name() const { return name_; }
    //! The label, or null when none was given.
    const char* label() const { return hasLabel_ ? label_.c_str() : nullptr; }
    bool is(const char* name) const { return name && name_ == name; }
    bool startsWith(const char* prefix) const;
    const std::string& tooltip() const { return tooltip_; }
    void tooltip(const std::string& text) { tooltip_ = text; }

    FlagMask flags() const { return flags_; }
    void set_flag(FlagMask f) { flags_ |= f; }
    void clear_flag(FlagMask f) { flags_ &= ~f; }
    bool all_of(FlagMask f) const noexcept { return (flags_ & f) == f; }
    bool any_of(FlagMask f) const noexcept { return (flags_ & f) != 0; }

    void enable() { clear_flag(DISABLED); }
    void disable() { set_flag(DISABLED); }
    void enable(bool e) { e ? enable() : disable(); }
    bool isEnabled() const { return !any_of(DISABLED); }
    void show() { visible(true); }
    void hide() { visible(false); }
    void visible(bool v) { v ? clear_flag(HIDDEN) : set_flag(HIDDEN); }
    bool isVisible() const { return !any_of(HIDDEN | INVISIBLE); }

    //! Text form of the value ("0.5", "rgba", the text of a text knob).
    virtual const char* get_text(const OutputContext* oc = nullptr) const;
    virtual void set_text(const char* /*text*/) {}
    //! True when the value differs from the one the knob was made with.
    virtual bool not_default() const { return false; }
    //! True when the knob has key frames.
    virtual bool isAnimated() const;
    //! Writes the key-frame times, rounded to whole frames, into keys; returns the key count.
    virtual int getKeyList(std::set<int>& keys) const;
    virtual void animationTimes(std::set<double>& times, int32_t view = -1) const;
    virtual void append(Hash& /*hash*/, const OutputContext* /*context*/) {}
    virtual Enumeration_KnobI* enumerationKnob() { return nullptr; }
    void changed() {}
    void updateWidgets() {}
    void redraw() {}

private:
    Knob();  // showPanel only

    std::string name_;
    std::string label_;
    bool hasLabel_ = false;
    std::string tooltip_;
    FlagMask flags_ = 0;
    mutable std::string text_;
};

}  // namespace Image
}  // namespace DD
