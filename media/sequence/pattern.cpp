// SPDX-License-Identifier: Apache-2.0
// SequencePattern: parsing frame fields, naming frames and finding them on disk.
#include "media/sequence/pattern.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/Error.h"

namespace tweenora::media {

namespace fs = std::filesystem;

namespace {

// Printf fields beyond this width are certainly a typo, and would overflow our
// formatting buffer.
constexpr int kMaxPadding = 16;

struct Field {
    size_t start = 0;
    size_t length = 0;
    int padding = 1;
};

// Every frame field of a file name: runs of '#', or "%d" / "%0Nd".
std::vector<Field> findFields(const std::string& name) {
    std::vector<Field> fields;
    for (size_t i = 0; i < name.size();) {
        if (name[i] == '#') {
            size_t end = i;
            while (end < name.size() && name[end] == '#')
                ++end;
            fields.push_back({i, end - i, int(end - i)});
            i = end;
        } else if (name[i] == '%') {
            size_t end = i + 1;
            while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
                ++end;
            if (end < name.size() && name[end] == 'd') {
                const std::string width = name.substr(i + 1, end - i - 1);
                const int padding = width.empty() ? 1 : std::stoi(width.substr(0, 3));
                fields.push_back({i, end + 1 - i, std::max(padding, 1)});
                i = end + 1;
            } else {
                ++i;
            }
        } else {
            ++i;
        }
    }
    return fields;
}

}  // namespace

SequencePattern::SequencePattern(const std::string& pattern) : text_(pattern) {
    const fs::path path(pattern);
    const std::string name = path.filename().string();
    folder_ = path.parent_path().string();
    const std::vector<Field> fields = findFields(name);
    if (fields.empty())
        throw Error("'" + pattern +
                    "' has no frame number in its file name (write it as #### or %04d)");
    if (fields.size() > 1)
        throw Error("'" + pattern + "' has more than one frame number field in its file name");
    if (fields[0].padding > kMaxPadding)
        throw Error("'" + pattern + "' pads frame numbers to more than " +
                    std::to_string(kMaxPadding) + " digits");
    prefix_ = name.substr(0, fields[0].start);
    suffix_ = name.substr(fields[0].start + fields[0].length);
    padding_ = fields[0].padding;
}

std::string SequencePattern::fileName(int frame) const {
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%0*d", padding_, frame);
    return prefix_ + digits + suffix_;
}

std::string SequencePattern::path(int frame) const {
    return folder_.empty() ? fileName(frame) : (fs::path(folder_) / fileName(frame)).string();
}

std::optional<int> SequencePattern::frameOf(const std::string& fileName) const {
    if (fileName.size() <= prefix_.size() + suffix_.size())
        return std::nullopt;
    if (fileName.compare(0, prefix_.size(), prefix_) != 0 ||
        fileName.compare(fileName.size() - suffix_.size(), suffix_.size(), suffix_) != 0)
        return std::nullopt;
    const std::string field =
        fileName.substr(prefix_.size(), fileName.size() - prefix_.size() - suffix_.size());
    const size_t digitsStart = field[0] == '-' ? 1 : 0;
    if (digitsStart == field.size() || field.size() - digitsStart > 10 ||
        !std::all_of(field.begin() + digitsStart, field.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    const long long value = std::stoll(field);
    if (value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    // Only the exact spelling counts: "7" and "0007" are different files of
    // "name.#.exr", and only one of them is frame 7.
    if (this->fileName(int(value)) != fileName)
        return std::nullopt;
    return int(value);
}

std::vector<int> SequencePattern::framesOnDisk() const {
    std::vector<int> frames;
    std::error_code ec;
    for (fs::directory_iterator it(directory(), ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        if (const std::optional<int> frame = frameOf(it->path().filename().string()))
            frames.push_back(*frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

FrameSpan SequencePattern::spanOnDisk() const {
    const std::vector<int> frames = framesOnDisk();
    if (frames.empty())
        throw Error("no files match '" + text_ + "'");
    return {frames.front(), frames.back()};
}

std::string canonicalPath(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path(path).lexically_normal().string() : canonical.string();
}

}  // namespace tweenora::media
