// SPDX-License-Identifier: Apache-2.0
// ChannelSet: set operations, iteration and printing.
#include "DDImage/ChannelSet.h"

#include <cstring>
#include <string>

#include "DDImage/Hash.h"

namespace DD {
namespace Image {
namespace {

constexpr int kFirstMaskBits = 32;

bool valid(Channel z) {
    return z > Chan_Black && z <= Chan_Last;
}

int lowestBit(uint64_t word) {
    return __builtin_ctzll(word);
}

int highestBit(uint64_t word) {
    return 63 - __builtin_clzll(word);
}

}  // namespace

ChannelSetIterator::ChannelSetIterator(const ChannelSet& set, bool end)
    : set_(&set), current_(end ? Chan_Black : set.first()) {}

Channel& ChannelSetIterator::operator++() {
    current_ = set_->next(current_);
    return current_;
}

ChannelSet::ChannelSet(ChannelSetInit v) {
    *this = v;
}

ChannelSet::ChannelSet(Channel v) {
    insert(v);
}

ChannelSet::ChannelSet(const Channel* array, int n) {
    insert(array, n);
}

const ChannelSet& ChannelSet::operator=(const ChannelSet& source) {
    bits_ = source.bits_;
    all_ = source.all_;
    return *this;
}

const ChannelSet& ChannelSet::operator=(ChannelSetInit v) {
    clear();
    if (v == Mask_All) {
        all_ = true;
        return *this;
    }
    for (int bit = 0; bit < kFirstMaskBits; ++bit)
        if (unsigned(v) & (1u << bit))
            insert(Channel(bit + 1));
    return *this;
}

const ChannelSet& ChannelSet::operator=(Channel z) {
    clear();
    insert(z);
    return *this;
}

const ChannelSet& ChannelSet::operator=(ChannelSet&& source) {
    return *this = source;
}

void ChannelSet::swap(ChannelSet& other) {
    std::swap(bits_, other.bits_);
    std::swap(all_, other.all_);
}

void ChannelSet::clear() {
    bits_.fill(0);
    all_ = false;
}

bool ChannelSet::empty() const {
    if (all_)
        return false;
    for (uint64_t word : bits_)
        if (word)
            return false;
    return true;
}

void ChannelSet::append(Hash& hash) const {
    hash.append(all_);
    if (!all_)
        hash.append(bits_.data(), sizeof bits_);
}

bool ChannelSet::operator==(const ChannelSet& other) const {
    return all_ == other.all_ && (all_ || bits_ == other.bits_);
}

bool ChannelSet::operator<(const ChannelSet& other) const {
    // Sets order by their lowest differing channel, so layers sort by their
    // first channel; an all-set sorts after every explicit set.
    if (all_ != other.all_)
        return other.all_;
    if (all_)
        return false;
    for (int i = 0; i < kWords; ++i) {
        const uint64_t diff = bits_[i] ^ other.bits_[i];
        if (diff)
            return (bits_[i] >> lowestBit(diff)) & 1u;
    }
    return false;
}

void ChannelSet::operator+=(const ChannelSet& other) {
    if (all_)
        return;
    if (other.all_) {
        clear();
        all_ = true;
        return;
    }
    for (int i = 0; i < kWords; ++i)
        bits_[i] |= other.bits_[i];
}

void ChannelSet::insert(Channel z) {
    if (all_ || !valid(z))
        return;
    bits_[z / 64] |= uint64_t(1) << (z % 64);
}

void ChannelSet::insert(const Channel* array, int n) {
    for (int i = 0; i < n; ++i)
        insert(array[i]);
}

void ChannelSet::expandAll() {
    if (!all_)
        return;
    all_ = false;
    const int count = getChannelCount();
    for (int z = 1; z <= count; ++z)
        insert(Channel(z));
}

void ChannelSet::operator-=(const ChannelSet& other) {
    if (other.all_) {
        clear();
        return;
    }
    expandAll();
    for (int i = 0; i < kWords; ++i)
        bits_[i] &= ~other.bits_[i];
}

void ChannelSet::erase(Channel z) {
    if (!valid(z))
        return;
    expandAll();
    bits_[z / 64] &= ~(uint64_t(1) << (z % 64));
}

void ChannelSet::erase(const Channel* array, int n) {
    for (int i = 0; i < n; ++i)
        erase(array[i]);
}

void ChannelSet::operator&=(const ChannelSet& other) {
    if (other.all_)
        return;
    if (all_) {
        *this = other;
        return;
    }
    for (int i = 0; i < kWords; ++i)
        bits_[i] &= other.bits_[i];
}

bool ChannelSet::contains(const ChannelSet& other) const {
    if (all_)
        return true;
    if (other.all_) {
        // Only an all-set holds channels that do not exist yet; against the
        // channels that exist, an explicit set may still hold every one.
        const int count = getChannelCount();
        for (int z = 1; z <= count; ++z)
            if (!contains(Channel(z)))
                return false;
        return true;
    }
    for (int i = 0; i < kWords; ++i)
        if ((other.bits_[i] & ~bits_[i]) != 0)
            return false;
    return true;
}

bool ChannelSet::contains(Channel z) const {
    if (!valid(z))
        return false;
    if (all_)
        return true;
    return (bits_[z / 64] >> (z % 64)) & 1u;
}

unsigned ChannelSet::size() const {
    if (all_)
        return unsigned(getChannelCount());
    unsigned n = 0;
    for (uint64_t word : bits_)
        n += unsigned(__builtin_popcountll(word));
    return n;
}

Channel ChannelSet::first() const {
    if (all_)
        return getChannelCount() > 0 ? Chan_Red : Chan_Black;
    for (int i = 0; i < kWords; ++i)
        if (bits_[i])
            return Channel(i * 64 + lowestBit(bits_[i]));
    return Chan_Black;
}

Channel ChannelSet::next(Channel z) const {
    if (all_)
        return z + 1 <= getChannelCount() ? Channel(z + 1) : Chan_Black;
    int from = int(z) + 1;
    if (from > Chan_Last)
        return Chan_Black;
    int i = from / 64;
    uint64_t word = bits_[i] & (~uint64_t(0) << (from % 64));
    while (true) {
        if (word)
            return Channel(i * 64 + lowestBit(word));
        if (++i >= kWords)
            return Chan_Black;
        word = bits_[i];
    }
}

Channel ChannelSet::last() const {
    if (all_)
        return Channel(getChannelCount());
    for (int i = kWords - 1; i >= 0; --i)
        if (bits_[i])
            return Channel(i * 64 + highestBit(bits_[i]));
    return Chan_Black;
}

std::ostream& operator<<(std::ostream& o, const ChannelSet& set) {
    if (set.all())
        return o << "all";
    if (set.empty())
        return o << "none";
    if (set == Mask_RGB)
        return o << "rgb";
    // Whole layers print as the layer's name, partial ones channel by channel.
    const int count = getChannelCount();
    ChannelSet done;
    bool firstWord = true;
    auto word = [&](const char* text) {
        o << (firstWord ? "" : " ") << text;
        firstWord = false;
    };
    foreach (z, set) {
        if (done.contains(z))
            continue;
        const char* layer = getLayerName(z);
        ChannelSet layerChannels;
        for (int c = 1; c <= count; ++c)
            if (std::strcmp(getLayerName(Channel(c)), layer) == 0)
                layerChannels += Channel(c);
        done += layerChannels;
        if (set.contains(layerChannels)) {
            word(layer);
            continue;
        }
        foreach (c, layerChannels)
            if (set.contains(c))
                word(getName(c));
    }
    return o;
}

}  // namespace Image
}  // namespace DD
