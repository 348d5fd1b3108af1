// SPDX-License-Identifier: Apache-2.0
// Hash: a 64-bit CRC of appended values, used to key the render cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace DD {
namespace Image {

typedef uint64_t U64;

//! 64-bit CRC (ECMA-182 polynomial) over the bytes of every appended value.
class Hash {
public:
    typedef U64 HashType;

    Hash() = default;
    Hash(const Hash& h) = default;
    Hash(U64 v) : value_(v) {}
    const Hash& operator=(const Hash& h) {
        value_ = h.value_;
        return *this;
    }

    void reset() { value_ = kInitial; }
    void reset(U64 v) { value_ = v; }
    bool operator==(const Hash& h) const { return value_ == h.value_; }
    bool operator!=(const Hash& h) const { return value_ != h.value_; }
    bool operator<(const Hash& h) const { return value_ < h.value_; }
    U64 value() const { return value_; }
    U64 getHash() const { return value_; }

    void append(const void* data, size_t length);
    void append(const char* s);
    void append(const std::string& s) { append(s.data(), s.size()); }
    void append(bool v);
    void append(int v) { append(&v, sizeof v); }
    void append(unsigned v) { append(&v, sizeof v); }
    void append(float v) { append(&v, sizeof v); }
    void append(double v) { append(&v, sizeof v); }
    void append(const Hash& h) { append(h.value_); }
    void append(const std::set<int>& intset);
    void append(const std::map<int, int>& iimap);
    void append(U64 v) { append(&v, sizeof v); }
    template <class T>
    void append(const std::vector<T>& vec) {
        for (const T& v : vec)
            append(v);
    }
    template <class T>
    Hash& operator<<(const T& v) {
        append(v);
        return *this;
    }
    //! Changes the value so that nothing matches the previous one.
    void newvalue();

private:
    static constexpr U64 kInitial = 0xFFFFFFFFFFFFFFFFull;
    U64 value_ = kInitial;
};

}  // namespace Image
}  // namespace DD
