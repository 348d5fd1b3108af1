// SPDX-License-Identifier: Apache-2.0
// Hash: the CRC-64 (ECMA-182 polynomial, most significant bit first) behind the cache keys.
#include "DDImage/Hash.h"

#include <array>
#include <atomic>
#include <cstring>

namespace DD {
namespace Image {
namespace {

constexpr U64 kPolynomial = 0x42F0E1EBA9EA3693ull;

std::array<U64, 256> makeTable() {
    std::array<U64, 256> table{};
    for (int i = 0; i < 256; ++i) {
        U64 crc = U64(i) << 56;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & (U64(1) << 63)) ? (crc << 1) ^ kPolynomial : crc << 1;
        table[i] = crc;
    }
    return table;
}

const std::array<U64, 256>& crcTable() {
    static const std::array<U64, 256> table = makeTable();
    return table;
}

}  // namespace

void Hash::append(const void* data, size_t length) {
    const std::array<U64, 256>& table = crcTable();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    U64 crc = value_;
    for (size_t i = 0; i < length; ++i)
        crc = table[((crc >> 56) ^ bytes[i]) & 0xFF] ^ (crc << 8);
    value_ = crc;
}

void Hash::append(const char* s) {
    // The same bytes as the std::string overload.
    if (s)
        append(s, std::strlen(s));
}

void Hash::append(bool v) {
    const unsigned char byte = v ? 1 : 0;
    append(&byte, 1);
}

void Hash::append(const std::set<int>& intset) {
    append(unsigned(intset.size()));
    for (int v : intset)
        append(v);
}

void Hash::append(const std::map<int, int>& iimap) {
    append(unsigned(iimap.size()));
    for (const auto& [key, v] : iimap) {
        append(key);
        append(v);
    }
}

void Hash::newvalue() {
    static std::atomic<U64> counter{0};
    append(++counter);
}

}  // namespace Image
}  // namespace DD
