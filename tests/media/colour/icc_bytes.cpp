// SPDX-License-Identifier: Apache-2.0
// ICC profiles built byte by byte, as the tests of the colour rules need them.
#include "tests/media/colour/icc_bytes.h"

#include <cmath>

#include "media/colour/transfer.h"

namespace tweenora::testing {
namespace {

void put32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(value >> shift));
}
void put16(Bytes& bytes, uint16_t value) {
    bytes.push_back(uint8_t(value >> 8));
    bytes.push_back(uint8_t(value));
}
void putText(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}
uint32_t fixed16(double value) {
    return uint32_t(int32_t(std::lround(value * 65536.0)));
}

}  // namespace

// Tag bodies of the kinds profiles hold their tone curves and names in.
Bytes curv(const std::vector<uint16_t>& entries) {
    Bytes tag;
    putText(tag, "curv");
    put32(tag, 0);
    put32(tag, uint32_t(entries.size()));
    for (uint16_t entry : entries)
        put16(tag, entry);
    return tag;
}
Bytes gammaCurve(double gamma) {
    return curv({uint16_t(std::lround(gamma * 256.0))});
}
Bytes para(int function, const std::vector<double>& parameters) {
    Bytes tag;
    putText(tag, "para");
    put32(tag, 0);
    put16(tag, uint16_t(function));
    put16(tag, 0);
    for (double p : parameters)
        put32(tag, fixed16(p));
    return tag;
}
Bytes srgbPara() {
    return para(3, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045});
}
Bytes srgbTable(int entries) {
    std::vector<uint16_t> table;
    for (int i = 0; i < entries; ++i)
        table.push_back(
            uint16_t(std::lround(media::srgbToLinear(i / float(entries - 1)) * 65535.0)));
    return curv(table);
}
Bytes descV2(const std::string& text) {
    Bytes tag;
    putText(tag, "desc");
    put32(tag, 0);
    put32(tag, uint32_t(text.size() + 1));
    putText(tag, text);
    tag.push_back(0);
    tag.resize(tag.size() + 4 + 4 + 2 + 1 + 67, 0);  // no Unicode or ScriptCode text
    return tag;
}
Bytes mluc(const std::string& text) {
    Bytes tag;
    putText(tag, "mluc");
    put32(tag, 0);
    put32(tag, 1);   // one record
    put32(tag, 12);  // of 12 bytes
    putText(tag, "enUS");
    put32(tag, uint32_t(text.size() * 2));
    put32(tag, 28);
    for (char c : text)
        put16(tag, uint16_t(c));
    return tag;
}

// A profile: a 128-byte header, the tag table, the tags 4-byte aligned.
Bytes profile(const std::vector<ProfileTag>& tags, const std::string& space) {
    Bytes header;
    put32(header, 0);  // the size, set below
    put32(header, 0);
    put32(header, 0x02100000);  // version 2.1
    putText(header, "mntr");
    putText(header, space);
    putText(header, "XYZ ");
    header.resize(36, 0);
    putText(header, "acsp");
    header.resize(68, 0);
    put32(header, fixed16(0.9642));  // the D50 illuminant
    put32(header, fixed16(1.0));
    put32(header, fixed16(0.8249));
    header.resize(128, 0);
    put32(header, uint32_t(tags.size()));
    size_t offset = header.size() + tags.size() * 12;
    Bytes data;
    for (const ProfileTag& tag : tags) {
        putText(header, tag.signature);
        put32(header, uint32_t(offset + data.size()));
        put32(header, uint32_t(tag.body.size()));
        data.insert(data.end(), tag.body.begin(), tag.body.end());
        data.resize((data.size() + 3) / 4 * 4, 0);
    }
    header.insert(header.end(), data.begin(), data.end());
    const uint32_t size = uint32_t(header.size());
    for (int i = 0; i < 4; ++i)
        header[size_t(i)] = uint8_t(size >> (24 - 8 * i));
    return header;
}
Bytes rgbProfile(const Bytes& curve, const std::string& description) {
    std::vector<ProfileTag> tags{{"rTRC", curve}, {"gTRC", curve}, {"bTRC", curve}};
    if (!description.empty())
        tags.push_back({"desc", descV2(description)});
    return profile(tags);
}

}  // namespace tweenora::testing
