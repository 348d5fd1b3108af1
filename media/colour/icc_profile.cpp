// SPDX-License-Identifier: Apache-2.0
// ICC profiles: header, tag table and tone curves, big-endian throughout.
#include "media/colour/icc_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "host/text.h"
#include "media/colour/transfer.h"

namespace tweenora::media {

namespace {

constexpr size_t kHeaderSize = 128;
// The largest difference from a curve, over [0, 1], that still counts as it:
// well above fixed-point and table rounding, well below gamma 2.2 against sRGB.
constexpr double kTolerance = 2e-3;

class Bytes {
public:
    Bytes(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    bool has(size_t offset, size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    uint32_t u32(size_t at) const {
        return uint32_t(data_[at]) << 24 | uint32_t(data_[at + 1]) << 16 |
               uint32_t(data_[at + 2]) << 8 | data_[at + 3];
    }
    uint16_t u16(size_t at) const { return uint16_t(data_[at] << 8 | data_[at + 1]); }
    double s15Fixed16(size_t at) const { return int32_t(u32(at)) / 65536.0; }
    std::string text(size_t at, size_t count) const {
        return std::string(reinterpret_cast<const char*>(data_ + at), count);
    }

private:
    const unsigned char* data_;
    size_t size_;
};

struct Tag {
    size_t offset = 0, size = 0;
};

std::optional<Tag> findTag(const Bytes& bytes, const std::string& signature) {
    const uint32_t count = bytes.u32(kHeaderSize);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = kHeaderSize + 4 + size_t(i) * 12;
        if (!bytes.has(entry, 12))
            return std::nullopt;
        if (bytes.text(entry, 4) != signature)
            continue;
        Tag tag{bytes.u32(entry + 4), bytes.u32(entry + 8)};
        if (tag.size < 8 || !bytes.has(tag.offset, tag.size))
            return std::nullopt;
        return tag;
    }
    return std::nullopt;
}

// A tone curve, encoded value to linear light, with its description in words.
struct Curve {
    std::string words;
    std::vector<double> table;  // sampled evenly over [0, 1]; empty for a function
    int function = -1;          // para's function type, 0 (or gamma) for curv's gamma
    double g = 1, a = 1, b = 0, c = 0, d = 0, e = 0, f = 0;

    double operator()(double x) const {
        if (!table.empty()) {
            const double at = x * double(table.size() - 1);
            const size_t i = std::min(size_t(at), table.size() - 2);
            return table[i] + (table[i + 1] - table[i]) * (at - double(i));
        }
        auto power = [](double base, double exponent) {
            return base > 0 ? std::pow(base, exponent) : 0.0;
        };
        switch (function) {
            case 1:
                return x >= -b / a ? power(a * x + b, g) : 0.0;
            case 2:
                return x >= -b / a ? power(a * x + b, g) + c : c;
            case 3:
                return x >= d ? power(a * x + b, g) : c * x;
            case 4:
                return x >= d ? power(a * x + b, g) + e : c * x + f;
            default:
                return power(x, g);
        }
    }
};

std::optional<Curve> readCurve(const Bytes& bytes, const Tag& tag) {
    const std::string type = bytes.text(tag.offset, 4);
    Curve curve;
    if (type == "curv" && tag.size >= 12) {
        const uint32_t count = bytes.u32(tag.offset + 8);
        if (count > (tag.size - 12) / 2)
            return std::nullopt;
        if (count == 0) {
            curve.words = "the identity";
        } else if (count == 1) {
            curve.g = bytes.u16(tag.offset + 12) / 256.0;
            char words[32];
            std::snprintf(words, sizeof(words), "gamma %.3g", curve.g);
            curve.words = words;
        } else {
            for (uint32_t i = 0; i < count; ++i)
                curve.table.push_back(bytes.u16(tag.offset + 12 + size_t(i) * 2) / 65535.0);
            curve.words = "a " + std::to_string(count) + "-entry table";
        }
        return curve;
    }
    if (type == "para" && tag.size >= 12) {
        static const int kParameters[] = {1, 3, 4, 5, 7};
        const int function = bytes.u16(tag.offset + 8);
        if (function > 4 || tag.size < 12 + size_t(kParameters[function]) * 4)
            return std::nullopt;
        double* parameters[] = {&curve.g, &curve.a, &curve.b, &curve.c,
                                &curve.d, &curve.e, &curve.f};
        for (int i = 0; i < kParameters[function]; ++i)
            *parameters[i] = bytes.s15Fixed16(tag.offset + 12 + size_t(i) * 4);
        if (function > 0 && curve.a == 0)
            return std::nullopt;
        curve.function = function;
        char words[48];
        std::snprintf(words, sizeof(words), "a type %d parametric curve, gamma %.3g", function,
                      curve.g);
        curve.words = words;
        return curve;
    }
    return std::nullopt;
}

double largestDifference(const Curve& curve, double (*reference)(double)) {
    double largest = 0;
    for (int i = 0; i <= 256; ++i) {
        const double x = i / 256.0;
        largest = std::max(largest, std::abs(curve(x) - reference(x)));
    }
    return largest;
}

double identity(double x) {
    return x;
}

double srgb(double x) {
    return srgbToLinear(float(x));
}

// desc is ASCII text in version 2 profiles, mluc (UTF-16) records in version 4.
std::string readDescription(const Bytes& bytes) {
    const std::optional<Tag> tag = findTag(bytes, "desc");
    if (!tag || tag->size < 12)
        return "";
    std::string text;
    const std::string type = bytes.text(tag->offset, 4);
    if (type == "desc") {
        const uint32_t count = bytes.u32(tag->offset + 8);
        if (count <= tag->size - 12)
            text = bytes.text(tag->offset + 12, count);
    } else if (type == "mluc" && tag->size >= 28 && bytes.u32(tag->offset + 8) > 0) {
        const size_t length = bytes.u32(tag->offset + 20), at = bytes.u32(tag->offset + 24);
        if (at <= tag->size && length <= tag->size - at)
            for (size_t i = 0; i + 1 < length; i += 2)
                if (bytes.u16(tag->offset + at + i) < 0x80)
                    text += char(bytes.u16(tag->offset + at + i));
    }
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
}

bool namesSrgb(const std::string& text) {
    return host::lowerCase(text).find("srgb") != std::string::npos;
}

}  // namespace

IccProfile readIccProfile(const unsigned char* data, size_t size) {
    IccProfile profile;
    const Bytes bytes(data, size);
    if (!bytes.has(0, kHeaderSize + 4) || bytes.text(36, 4) != "acsp") {
        profile.curve = "unreadable";
        return profile;
    }
    profile.description = readDescription(bytes);
    const bool grey = bytes.text(16, 4) == "GRAY";
    const std::vector<std::string> signatures =
        grey ? std::vector<std::string>{"kTRC"} : std::vector<std::string>{"rTRC", "gTRC", "bTRC"};
    std::vector<Curve> curves;
    for (const std::string& signature : signatures) {
        const std::optional<Tag> tag = findTag(bytes, signature);
        const std::optional<Curve> curve = tag ? readCurve(bytes, *tag) : std::nullopt;
        if (!curve)
            break;
        curves.push_back(*curve);
    }
    auto all = [&](double (*reference)(double)) {
        return curves.size() == signatures.size() &&
               std::all_of(curves.begin(), curves.end(), [&](const Curve& curve) {
                   return largestDifference(curve, reference) < kTolerance;
               });
    };
    profile.curve = curves.size() == signatures.size() ? curves.front().words : "no tone curves";
    if (all(identity))
        profile.transfer = IccTransfer::Linear;
    else if (all(srgb) || namesSrgb(profile.description))
        profile.transfer = IccTransfer::Srgb;
    return profile;
}

}  // namespace tweenora::media
