// SPDX-License-Identifier: Apache-2.0
// Knob and ValueStuffI: the public value calls forward to what a concrete knob implements.
#include "DDImage/Knob.h"

#include <cmath>
#include <cstring>

#include "DDImage/OutputContext.h"

namespace DD {
namespace Image {

bool ValueStuffI::set_value(double v, int channel) {
    return storeValue(v, channel);
}

bool ValueStuffI::set_value_at(double v, double time, int channel) {
    return storeValueAt(v, time, channel);
}

bool ValueStuffI::set_key(int channel, int /*view*/) {
    const double time = currentTime();
    return storeValueAt(valueAt(time, channel < 0 ? 0 : channel), time, channel);
}

bool ValueStuffI::set_key_at(double time, int channel, int /*view*/) {
    return storeValueAt(valueAt(time, channel < 0 ? 0 : channel), time, channel);
}

bool ValueStuffI::remove_key(int channel) {
    return eraseKeyAt(currentTime(), channel);
}

bool ValueStuffI::remove_key_at(double time, int channel, int /*view*/) {
    return eraseKeyAt(time, channel);
}

bool ValueStuffI::is_key_at(double time, int channel, int /*view*/) const {
    std::set<double> times;
    keyTimes(times, channel);
    return times.count(time) != 0;
}

double ValueStuffI::get_value(int channel) const {
    return currentValue(channel);
}

double ValueStuffI::get_value_at(double time, int channel) const {
    return valueAt(time, channel);
}

double ValueStuffI::get_value_at(const OutputContext& oc, int channel) const {
    return valueAt(oc.frame(), channel);
}

int ValueStuffI::getNumKeys(int channel, int /*view*/) const {
    std::set<double> times;
    keyTimes(times, channel);
    return int(times.size());
}

void ValueStuffI::clear_animated(int channel) {
    clearAnimation(channel);
}

Knob Knob::showPanel;

Knob::Knob() : name_("showPanel") {}

Knob::Knob(Knob_Closure*, const char* name, const char* label)
    : name_(name ? name : ""), label_(label ? label : ""), hasLabel_(label != nullptr) {}

Knob::~Knob() = default;

bool Knob::startsWith(const char* prefix) const {
    return prefix && name_.compare(0, std::strlen(prefix), prefix) == 0;
}

const char* Knob::get_text(const OutputContext*) const {
    return text_.c_str();
}

bool Knob::isAnimated() const {
    std::set<double> times;
    keyTimes(times, -1);
    return !times.empty();
}

int Knob::getKeyList(std::set<int>& keys) const {
    std::set<double> times;
    keyTimes(times, -1);
    for (double t : times)
        keys.insert(int(std::lround(t)));
    return int(times.size());
}

void Knob::animationTimes(std::set<double>& times, int32_t) const {
    keyTimes(times, -1);
}

}  // namespace Image
}  // namespace DD
