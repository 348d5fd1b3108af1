// SPDX-License-Identifier: Apache-2.0
// The channel table: the fixed channels and those created by name, process-wide.
#include "DDImage/Channel.h"

#include <cstring>
#include <deque>
#include <mutex>
#include <string>

namespace DD {
namespace Image {
namespace {

struct ChannelRecord {
    std::string full;   // "layer.chan"
    std::string layer;  // "layer"
    std::string chan;   // "chan"
    unsigned colour;    // position inside the layer
};

constexpr int kMaxChannelsPerLayer = 4;

// Channels are never removed, and a deque keeps the records (and so the
// texts handed out by getName) in place while it grows.
class ChannelTable {
public:
    ChannelTable() {
        add("none", "");
        static const char* const kFixed[] = {
            "rgba.red",     "rgba.green",      "rgba.blue",    "rgba.alpha",   "depth.Z",
            "mask.a",       "forward.u",       "forward.v",    "backward.u",   "backward.v",
            "disparityL.x", "disparityL.y",    "disparityR.x", "disparityR.y", "deep.front",
            "deep.back",    "rotopaint_mask.a"};
        for (const char* name : kFixed) {
            const char* dot = std::strchr(name, '.');
            add(std::string(name, dot), dot + 1);
        }
    }

    const ChannelRecord& record(Channel c) {
        std::lock_guard<std::mutex> lock(mutex_);
        return c > 0 && size_t(c) < records_.size() ? records_[c] : records_[0];
    }

    int count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return int(records_.size()) - 1;
    }

    Channel find(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (name.empty() || name == "none")
            return Chan_Black;
        if (name == "r")
            return Chan_Red;
        if (name == "g")
            return Chan_Green;
        if (name == "b")
            return Chan_Blue;
        if (name == "a")
            return Chan_Alpha;
        const size_t dot = name.find('.');
        for (size_t i = 1; i < records_.size(); ++i) {
            const ChannelRecord& r = records_[i];
            if (dot == std::string::npos ? r.chan == name : r.full == name)
                return Channel(i);
        }
        if (dot == std::string::npos)
            return Chan_Black;
        return create(name.substr(0, dot), name.substr(dot + 1));
    }

private:
    Channel create(const std::string& layer, const std::string& chan) {
        if (layer.empty() || chan.empty() || chan.find('.') != std::string::npos ||
            layer.find_first_of(" \t,") != std::string::npos ||
            chan.find_first_of(" \t,") != std::string::npos)
            return Chan_Black;
        if (records_.size() > size_t(Chan_Last))
            return Chan_Black;
        int inLayer = 0;
        for (const ChannelRecord& r : records_)
            inLayer += r.layer == layer ? 1 : 0;
        if (inLayer >= kMaxChannelsPerLayer)
            return Chan_Black;
        add(layer, chan);
        return Channel(records_.size() - 1);
    }

    void add(const std::string& layer, const std::string& chan) {
        unsigned colour = 0;
        for (const ChannelRecord& r : records_)
            colour += (!layer.empty() && r.layer == layer) ? 1 : 0;
        records_.push_back({layer.empty() ? chan : layer + "." + chan, layer, chan, colour});
    }

    std::mutex mutex_;
    std::deque<ChannelRecord> records_;
};

ChannelTable& table() {
    static ChannelTable instance;
    return instance;
}

}  // namespace

const char* getName(Channel c) {
    return table().record(c).full.c_str();
}

Channel getChannel(const char* name, bool /*sort*/) {
    return name ? table().find(name) : Chan_Black;
}

const char* getLayerName(Channel c) {
    const ChannelRecord& r = table().record(c);
    return c == Chan_Black ? r.full.c_str() : r.layer.c_str();
}

unsigned colourIndex(Channel c) {
    return table().record(c).colour;
}

int getChannelCount() {
    return table().count();
}

}  // namespace Image
}  // namespace DD
