// SPDX-License-Identifier: Apache-2.0
// HostKnob: the headless host's knob, made when a node declares its panel.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <DDImage/ChannelSet.h>
#include <DDImage/Knob.h>
#include <DDImage/Knobs.h>
#include <DDImage/TextKnobI.h>

namespace tweenora::host {

//! One knob of a node: what was declared (type, store, name, label, extra) and
//! its value, plain or animated. Values are held as doubles (channel sets and
//! texts apart) and stored into an op's field on every store pass.
class HostKnob : public DD::Image::Knob, public DD::Image::Text_KnobI {
public:
    HostKnob(DD::Image::Knob_Closure* closure, int type, DD::Image::StoreType store,
             const char* name, const char* label, const void* extra, const void* data);

    const char* Class() const override;
    int ClassID() const override { return type_; }
    DD::Image::StoreType storeType() const { return store_; }

    //! The kind as the panel listing names it: "tab", "group", "end of group",
    //! "integer", "enumeration", "boolean", "float", "channel set",
    //! "python script button", "text" or "divider".
    std::string kind() const;
    //! True for knobs that hold a value (numbers, booleans, entries, channel sets).
    bool hasValue() const;
    //! Entry names of an enumeration knob.
    const std::vector<std::string>& entries() const { return entries_; }
    //! The script of a python script button.
    const std::string& script() const { return script_; }
    //! Default and current value as text: numbers as the host prints them,
    //! booleans as "true"/"false", entries by name, channel sets as printed.
    std::string defaultText() const;
    std::string valueText() const;

    //! Sets the value from text: a number, a boolean (true/false/on/off/yes/no/1/0),
    //! an entry name or index, a channel set ("rgb", "rgba", "all", "none", layer
    //! or channel names separated by blanks or commas). Throws tweenora::Error
    //! naming the knob and the text when it does not fit the knob.
    void setFromText(const std::string& text);
    //! Sets a key frame (makes the knob animated). Throws for knobs without a number.
    void setKeyAt(double frame, double value);

    const DD::Image::ChannelSet& channelSet() const { return channels_; }
    void setChannelSet(const DD::Image::ChannelSet& channels) { channels_ = channels; }

    //! Writes the value at frame into the field behind data (a store pass).
    void storeInto(void* data, double frame) const;
    //! Writes the value at frame into the field the knob was made with (the
    //! first op's), as the host does right after an edit.
    void storeIntoOwnField(double frame) const { storeInto(field_, frame); }
    //! A later knobs() pass declared this knob again with extra: a text knob
    //! whose declared text changed shows the new text.
    void redeclare(const void* extra);
    //! The frame get_value(), set_key() and get_text() act at.
    void setCurrentFrame(double frame) { currentFrame_ = frame; }
    double currentFrame() const { return currentFrame_; }

    // Knob
    const char* get_text(const DD::Image::OutputContext* oc = nullptr) const override;
    void set_text(const char* text) override;
    bool not_default() const override;
    bool isAnimated() const override;
    int getKeyList(std::set<int>& keys) const override;
    void animationTimes(std::set<double>& times, int32_t view = -1) const override;

    // Text_KnobI
    const std::string& text() const override { return text_; }
    void text(std::string& text) override { text_ = text; }

protected:
    bool storeValue(double v, int channel) override;
    bool storeValueAt(double v, double time, int channel) override;
    bool eraseKeyAt(double time, int channel) override;
    double valueAt(double time, int channel) const override;
    double currentValue(int channel) const override;
    void keyTimes(std::set<double>& times, int channel) const override;
    void clearAnimation(int channel) override;
    double currentTime() const override { return currentFrame_; }

private:
    bool holdsNumber() const;
    //! The value as text (the field's type decides how numbers print).
    std::string formatValue(double value, const DD::Image::ChannelSet& channels) const;
    [[noreturn]] void reject(const std::string& text, const std::string& expected) const;

    int type_;
    DD::Image::StoreType store_;
    void* field_;           //!< the field of the op that made the knob, or null
    intptr_t tabKind_ = 0;  //!< TAB_KNOB: tab, group or end of group
    bool hasText_ = false;  //!< TEXT_KNOB: false for a divider
    std::string declaredText_;
    std::vector<std::string> entries_;
    std::string script_;
    std::string text_;
    mutable std::string textBuffer_;  //!< what get_text() returned last
    double currentFrame_ = 0.0;
    double default_ = 0.0;
    double value_ = 0.0;
    std::map<double, double> keys_;  //!< frame -> value; linear between keys, held outside
    DD::Image::ChannelSet defaultChannels_;
    DD::Image::ChannelSet channels_;
};

}  // namespace tweenora::host
