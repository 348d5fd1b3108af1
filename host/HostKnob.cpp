// SPDX-License-Identifier: Apache-2.0
// HostKnob: declared knobs, their values and animation, text parsing and printing.
#include "host/HostKnob.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <DDImage/Channel.h>
#include <DDImage/OutputContext.h>

#include "host/Error.h"
#include "host/text.h"

namespace tweenora::host {

using DD::Image::ChannelSet;

namespace {

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The shortest text that reads back as the same value of the field's type.
std::string shortestNumber(double value, bool singlePrecision) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    char buffer[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        const double back = std::strtod(buffer, nullptr);
        if (singlePrecision ? float(back) == float(value) : back == value)
            break;
    }
    return buffer;
}

bool parseInteger(const std::string& text, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= INT_MIN && value <= INT_MAX;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0';
}

// Whole layers by name; "rgb" is the three colour channels of rgba.
bool addLayer(const std::string& name, ChannelSet& channels) {
    if (name == "rgb") {
        channels += DD::Image::Mask_RGB;
        return true;
    }
    bool found = false;
    const int count = DD::Image::getChannelCount();
    for (int c = 1; c <= count; ++c)
        if (name == DD::Image::getLayerName(DD::Image::Channel(c))) {
            channels += DD::Image::Channel(c);
            found = true;
        }
    return found;
}

}  // namespace

HostKnob::HostKnob(DD::Image::Knob_Closure* closure, int type, DD::Image::StoreType store,
                   const char* name, const char* label, const void* extra, const void* data)
    : Knob(closure, name, label), type_(type), store_(store), field_(const_cast<void*>(data)) {
    switch (type) {
        case DD::Image::TAB_KNOB:
            tabKind_ = reinterpret_cast<intptr_t>(extra);
            break;
        case DD::Image::TEXT_KNOB:
            hasText_ = extra != nullptr;
            declaredText_ = extra ? static_cast<const char*>(extra) : "";
            text_ = declaredText_;
            break;
        case DD::Image::ENUMERATION_KNOB:
            for (const char* const* item = static_cast<const char* const*>(extra); item && *item;
                 ++item)
                entries_.push_back(*item);
            break;
        case DD::Image::PYSCRIPT_KNOB:
            script_ = extra ? static_cast<const char*>(extra) : "";
            break;
        default:
            break;
    }
    // The field's value when the knob is made is its default.
    if (data) {
        switch (store) {
            case DD::Image::FloatPtr:
                default_ = *static_cast<const float*>(data);
                break;
            case DD::Image::DoublePtr:
                default_ = *static_cast<const double*>(data);
                break;
            case DD::Image::IntPtr:
                default_ = *static_cast<const int*>(data);
                break;
            case DD::Image::UnsignedIntPtr:
                default_ = *static_cast<const unsigned*>(data);
                break;
            case DD::Image::BoolPtr:
                default_ = *static_cast<const bool*>(data) ? 1.0 : 0.0;
                break;
            case DD::Image::ChannelPtr:
                default_ = double(*static_cast<const DD::Image::Channel*>(data));
                break;
            case DD::Image::ChannelSetPtr:
                defaultChannels_ = *static_cast<const ChannelSet*>(data);
                break;
            default:
                break;
        }
    }
    value_ = default_;
    channels_ = defaultChannels_;
}

const char* HostKnob::Class() const {
    switch (type_) {
        case DD::Image::INT_KNOB:
            return "Int_Knob";
        case DD::Image::ENUMERATION_KNOB:
            return "Enumeration_Knob";
        case DD::Image::BOOL_KNOB:
            return "Boolean_Knob";
        case DD::Image::DOUBLE_KNOB:
            return "Double_Knob";
        case DD::Image::FLOAT_KNOB:
            return "Float_Knob";
        case DD::Image::CHANNEL_MASK_KNOB:
            return "ChannelMask_Knob";
        case DD::Image::TAB_KNOB:
            return "Tab_Knob";
        case DD::Image::PYSCRIPT_KNOB:
            return "PyScript_Knob";
        case DD::Image::TEXT_KNOB:
            return "Text_Knob";
        default:
            return "Knob";
    }
}

std::string HostKnob::kind() const {
    switch (type_) {
        case DD::Image::TAB_KNOB:
            if (tabKind_ == DD::Image::kTabKnobGroupEnd)
                return "end of group";
            return tabKind_ == DD::Image::kTabKnobTab ? "tab" : "group";
        case DD::Image::TEXT_KNOB:
            return hasText_ ? "text" : "divider";
        case DD::Image::INT_KNOB:
            return "integer";
        case DD::Image::ENUMERATION_KNOB:
            return "enumeration";
        case DD::Image::BOOL_KNOB:
            return "boolean";
        case DD::Image::FLOAT_KNOB:
        case DD::Image::DOUBLE_KNOB:
            return "float";
        case DD::Image::CHANNEL_MASK_KNOB:
            return "channel set";
        case DD::Image::PYSCRIPT_KNOB:
            return "python script button";
        default:
            return "other";
    }
}

bool HostKnob::holdsNumber() const {
    switch (type_) {
        case DD::Image::INT_KNOB:
        case DD::Image::ENUMERATION_KNOB:
        case DD::Image::BOOL_KNOB:
        case DD::Image::FLOAT_KNOB:
        case DD::Image::DOUBLE_KNOB:
            return true;
        default:
            return false;
    }
}

bool HostKnob::hasValue() const {
    return holdsNumber() || type_ == DD::Image::CHANNEL_MASK_KNOB;
}

std::string HostKnob::formatValue(double value, const ChannelSet& channels) const {
    switch (type_) {
        case DD::Image::BOOL_KNOB:
            return value != 0.0 ? "true" : "false";
        case DD::Image::ENUMERATION_KNOB: {
            const long index = std::isfinite(value) ? std::lround(value) : -1;
            if (index >= 0 && size_t(index) < entries_.size())
                return entries_[size_t(index)];
            return shortestNumber(value, false);
        }
        case DD::Image::INT_KNOB:
            return std::isfinite(value) ? std::to_string(std::lround(value))
                                        : shortestNumber(value, false);
        case DD::Image::FLOAT_KNOB:
        case DD::Image::DOUBLE_KNOB:
            return shortestNumber(value, store_ == DD::Image::FloatPtr);
        case DD::Image::CHANNEL_MASK_KNOB: {
            std::ostringstream text;
            text << channels;
            return text.str();
        }
        case DD::Image::TEXT_KNOB:
            return text_;
        default:
            return std::string();
    }
}

std::string HostKnob::defaultText() const {
    return type_ == DD::Image::TEXT_KNOB ? declaredText_ : formatValue(default_, defaultChannels_);
}

std::string HostKnob::valueText() const {
    return formatValue(valueAt(currentFrame_, 0), channels_);
}

void HostKnob::reject(const std::string& text, const std::string& expected) const {
    throw Error("knob " + name() + ": cannot set '" + text + "', expected " + expected);
}

void HostKnob::setFromText(const std::string& rawText) {
    const std::string text = trim(rawText);
    switch (type_) {
        case DD::Image::INT_KNOB: {
            long value = 0;
            if (!parseInteger(text, value))
                reject(rawText, "an integer");
            storeValue(double(value), -1);
            return;
        }
        case DD::Image::FLOAT_KNOB:
        case DD::Image::DOUBLE_KNOB: {
            double value = 0.0;
            if (!parseNumber(text, value))
                reject(rawText, "a number");
            storeValue(value, -1);
            return;
        }
        case DD::Image::BOOL_KNOB: {
            const std::string word = lowerCase(text);
            if (word == "true" || word == "on" || word == "yes" || word == "1")
                storeValue(1.0, -1);
            else if (word == "false" || word == "off" || word == "no" || word == "0")
                storeValue(0.0, -1);
            else
                reject(rawText, "true or false");
            return;
        }
        case DD::Image::ENUMERATION_KNOB: {
            for (size_t i = 0; i < entries_.size(); ++i)
                if (entries_[i] == text) {
                    storeValue(double(i), -1);
                    return;
                }
            for (size_t i = 0; i < entries_.size(); ++i)
                if (lowerCase(entries_[i]) == lowerCase(text)) {
                    storeValue(double(i), -1);
                    return;
                }
            long index = 0;
            if (parseInteger(text, index) && index >= 0 && size_t(index) < entries_.size()) {
                storeValue(double(index), -1);
                return;
            }
            std::string expected = "one of";
            for (size_t i = 0; i < entries_.size(); ++i)
                expected += (i ? ", '" : " '") + entries_[i] + "'";
            reject(rawText, expected + " or an index below " + std::to_string(entries_.size()));
        }
        case DD::Image::CHANNEL_MASK_KNOB: {
            ChannelSet channels;
            std::string word;
            std::istringstream words(text);
            bool any = false;
            while (std::getline(words, word, ',')) {
                std::istringstream parts(word);
                std::string name;
                while (parts >> name) {
                    any = true;
                    if (name == "all")
                        channels = DD::Image::Mask_All;
                    else if (name == "none")
                        continue;
                    else if (!addLayer(name, channels)) {
                        const DD::Image::Channel z = DD::Image::getChannel(name.c_str());
                        if (z == DD::Image::Chan_Black)
                            reject(rawText,
                                   "channel or layer names (such as rgba, rgb, depth, "
                                   "rgba.red, all, none)");
                        channels += z;
                    }
                }
            }
            if (!any)
                reject(rawText,
                       "channel or layer names (such as rgba, rgb, depth, rgba.red, all, none)");
            channels_ = channels;
            return;
        }
        case DD::Image::TEXT_KNOB:
            text_ = rawText;
            return;
        default:
            throw Error("knob " + name() + " holds no value; cannot set '" + rawText + "'");
    }
}

void HostKnob::setKeyAt(double frame, double value) {
    if (!holdsNumber())
        throw Error("knob " + name() + " cannot be animated");
    storeValueAt(value, frame, -1);
}

void HostKnob::storeInto(void* data, double frame) const {
    if (!data)
        return;
    const double value = valueAt(frame, 0);
    const int whole =
        std::isfinite(value)
            ? int(std::max<double>(INT_MIN, std::min<double>(INT_MAX, std::round(value))))
            : 0;
    switch (store_) {
        case DD::Image::FloatPtr:
            *static_cast<float*>(data) = float(value);
            break;
        case DD::Image::DoublePtr:
            *static_cast<double*>(data) = value;
            break;
        case DD::Image::IntPtr:
            *static_cast<int*>(data) = whole;
            break;
        case DD::Image::UnsignedIntPtr:
            *static_cast<unsigned*>(data) = unsigned(std::max(0, whole));
            break;
        case DD::Image::BoolPtr:
            *static_cast<bool*>(data) = value != 0.0;
            break;
        case DD::Image::ChannelPtr:
            *static_cast<DD::Image::Channel*>(data) = DD::Image::Channel(whole);
            break;
        case DD::Image::ChannelSetPtr:
            *static_cast<ChannelSet*>(data) = channels_;
            break;
        default:
            break;
    }
}

void HostKnob::redeclare(const void* extra) {
    if (type_ != DD::Image::TEXT_KNOB || !extra)
        return;
    // Only a new declared text replaces the shown one, so a text set through
    // Text_KnobI survives the store passes that declare the same text again.
    const std::string declared = static_cast<const char*>(extra);
    if (declared == declaredText_)
        return;
    declaredText_ = declared;
    text_ = declared;
}

const char* HostKnob::get_text(const DD::Image::OutputContext* oc) const {
    if (type_ == DD::Image::TEXT_KNOB)
        return text_.c_str();
    textBuffer_ = oc ? formatValue(valueAt(oc->frame(), 0), channels_) : valueText();
    return textBuffer_.c_str();
}

void HostKnob::set_text(const char* text) {
    // Knob::set_text cannot fail; a text that does not fit leaves the value as it was.
    try {
        setFromText(text ? text : "");
    } catch (const Error&) {
    }
}

bool HostKnob::not_default() const {
    if (type_ == DD::Image::CHANNEL_MASK_KNOB)
        return channels_ != defaultChannels_;
    if (!holdsNumber())
        return false;
    return !keys_.empty() || value_ != default_;
}

bool HostKnob::isAnimated() const {
    return !keys_.empty();
}

int HostKnob::getKeyList(std::set<int>& keys) const {
    for (const auto& key : keys_)
        keys.insert(int(std::lround(key.first)));
    return int(keys_.size());
}

void HostKnob::animationTimes(std::set<double>& times, int32_t) const {
    for (const auto& key : keys_)
        times.insert(key.first);
}

bool HostKnob::storeValue(double v, int) {
    if (!holdsNumber())
        return false;
    value_ = v;
    keys_.clear();
    return true;
}

bool HostKnob::storeValueAt(double v, double time, int) {
    if (!holdsNumber())
        return false;
    keys_[time] = v;
    return true;
}

bool HostKnob::eraseKeyAt(double time, int) {
    if (keys_.size() == 1 && keys_.count(time))
        value_ = keys_.begin()->second;  // the last key's value stays as the plain value
    return keys_.erase(time) != 0;
}

double HostKnob::valueAt(double time, int) const {
    if (keys_.empty())
        return value_;
    // Linear between keys, held before the first and after the last.
    const auto after = keys_.lower_bound(time);
    if (after == keys_.begin())
        return after->second;
    if (after == keys_.end())
        return keys_.rbegin()->second;
    if (after->first == time)
        return after->second;
    const auto before = std::prev(after);
    const double t = (time - before->first) / (after->first - before->first);
    return before->second + (after->second - before->second) * t;
}

double HostKnob::currentValue(int channel) const {
    return valueAt(currentFrame_, channel);
}

void HostKnob::keyTimes(std::set<double>& times, int) const {
    for (const auto& key : keys_)
        times.insert(key.first);
}

void HostKnob::clearAnimation(int) {
    if (keys_.empty())
        return;
    value_ = valueAt(currentFrame_, 0);
    keys_.clear();
}

}  // namespace tweenora::host
