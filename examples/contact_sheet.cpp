// SPDX-License-Identifier: Apache-2.0
// tweenora-contact-sheet: source frames above, retimed frames below, each labelled
// with the source position it shows.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include "examples/bitmap_font.h"
#include "examples/tool_main.h"
#include "host/Error.h"
#include "media/sequence/pattern.h"

namespace {

using tweenora::Error;

const char* const kUsage =
    "usage: tweenora-contact-sheet SOURCE RETIMED OUTPUT.png [options]\n"
    "\n"
    "SOURCE and RETIMED are image sequences (such as clip/sample.####.exr); every\n"
    "frame present is shown, source frames above, retimed frames below.\n"
    "\n"
    "options:\n"
    "  --plan FILE        output of 'tweenora plan --json' for the retime: labels\n"
    "                     each retimed frame with its source position\n"
    "  --thumb-width N    width of one picture in pixels (default 160)\n"
    "  --columns N        pictures per row (default: the source frames, at most 12)\n";

constexpr int kMargin = 12;
constexpr int kGap = 6;
constexpr int kTextScale = 2;
constexpr int kMaxDefaultColumns = 12;
constexpr uint8_t kBackground = 24;

// An 8-bit sRGB picture, rows from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    Picture(int w, int h, uint8_t fill) : width(w), height(h), rgb(size_t(w) * h * 3, fill) {}
    uint8_t* at(int x, int y) { return &rgb[(size_t(y) * width + x) * 3]; }
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

uint8_t encodeSrgb(float linear) {
    const float v = std::min(1.0f, std::max(0.0f, linear));
    const float encoded = v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
    return uint8_t(std::lround(encoded * 255.0f));
}

// The colour channels of a file, scaled to width (keeping the display
// window's aspect) and encoded for display.
Picture loadThumbnail(const std::string& path, int width) {
    OIIO::ImageBuf image(path);
    if (!image.read(0, 0, true, OIIO::TypeDesc::FLOAT))
        throw Error("cannot read '" + path + "': " + image.geterror());
    const OIIO::ImageSpec& spec = image.spec();
    std::vector<int> order;
    for (const char* name : {"R", "G", "B"}) {
        const int index = spec.channelindex(name);
        order.push_back(index >= 0 ? index : std::min(int(order.size()), spec.nchannels - 1));
    }
    const OIIO::ImageBuf rgb = OIIO::ImageBufAlgo::channels(image, 3, order);
    const int height = std::max(
        1, int(std::lround(double(width) * spec.full_height / std::max(1, spec.full_width))));
    const OIIO::ImageBuf small =
        OIIO::ImageBufAlgo::resize(rgb, "", 0.0f, OIIO::ROI(0, width, 0, height, 0, 1, 0, 3));
    std::vector<float> pixels(size_t(width) * height * 3);
    small.get_pixels(OIIO::ROI(0, width, 0, height, 0, 1, 0, 3), OIIO::TypeDesc::FLOAT,
                     pixels.data());
    Picture thumb(width, height, 0);
    std::transform(pixels.begin(), pixels.end(), thumb.rgb.begin(), encodeSrgb);
    return thumb;
}

void paste(Picture& canvas, const Picture& picture, int left, int top) {
    for (int y = 0; y < picture.height && top + y < canvas.height; ++y)
        for (int x = 0; x < picture.width && left + x < canvas.width; ++x)
            std::copy_n(picture.at(x, y), 3, canvas.at(left + x, top + y));
}

// White text on a darkened box, so labels read on bright pictures too.
void drawLabel(Picture& canvas, const std::string& text, int left, int top, bool boxed) {
    const int width = tweenora::examples::textWidth(text, kTextScale);
    const int height = tweenora::examples::kGlyphHeight * kTextScale;
    if (boxed) {
        for (int y = std::max(0, top - 2); y < std::min(canvas.height, top + height + 2); ++y)
            for (int x = std::max(0, left - 2); x < std::min(canvas.width, left + width + 2); ++x)
                for (int c = 0; c < 3; ++c)
                    canvas.at(x, y)[c] = uint8_t(canvas.at(x, y)[c] * 3 / 10);
    }
    int penX = left;
    for (char c : text) {
        const tweenora::examples::Glyph& rows = tweenora::examples::glyph(c);
        for (int gy = 0; gy < tweenora::examples::kGlyphHeight; ++gy)
            for (int gx = 0; gx < tweenora::examples::kGlyphWidth; ++gx) {
                if (!(rows[gy] & (1u << (tweenora::examples::kGlyphWidth - 1 - gx))))
                    continue;
                for (int sy = 0; sy < kTextScale; ++sy)
                    for (int sx = 0; sx < kTextScale; ++sx) {
                        const int x = penX + gx * kTextScale + sx, y = top + gy * kTextScale + sy;
                        if (x >= 0 && y >= 0 && x < canvas.width && y < canvas.height)
                            std::fill_n(canvas.at(x, y), 3, uint8_t(255));
                    }
            }
        penX += (tweenora::examples::kGlyphWidth + 1) * kTextScale;
    }
}

std::string formatPosition(double position) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", position);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Output frame -> source position, from the frames of 'tweenora plan --json'.
std::map<int, double> readPlan(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        throw Error("cannot read plan '" + path + "'");
    std::stringstream text;
    text << file.rdbuf();
    const std::string json = text.str();
    const std::regex object(R"(\{[^{}]*\})");
    const std::regex frame(R"("frame"\s*:\s*(-?\d+))");
    const std::regex position(R"("position"\s*:\s*(-?[0-9.eE+-]+))");
    std::map<int, double> positions;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), object);
         it != std::sregex_iterator(); ++it) {
        const std::string body = it->str();
        std::smatch f, p;
        if (std::regex_search(body, f, frame) && std::regex_search(body, p, position))
            positions[std::stoi(f[1])] = std::stod(p[1]);
    }
    if (positions.empty())
        throw Error("plan '" + path + "' lists no frames with positions");
    return positions;
}

struct Row {
    std::string heading;
    std::vector<Picture> pictures;
    std::vector<std::string> labels;
};

void addSequence(Row& row, const std::string& pattern, int thumbWidth,
                 const std::map<int, double>* positions) {
    const tweenora::media::SequencePattern sequence(pattern);
    const std::vector<int> frames = sequence.framesOnDisk();
    if (frames.empty())
        throw Error("no files match '" + pattern + "'");
    for (int frame : frames) {
        row.pictures.push_back(loadThumbnail(sequence.path(frame), thumbWidth));
        if (!positions) {
            row.labels.push_back(std::to_string(frame));
        } else {
            const auto found = positions->find(frame);
            row.labels.push_back(found != positions->end() ? formatPosition(found->second)
                                                           : "OUT " + std::to_string(frame));
        }
    }
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 3)
        throw Error("missing arguments");
    int thumbWidth = 160;
    int columns = 0;
    std::string planPath;
    for (size_t i = 3; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            throw Error(args[i] + " needs a value");
        if (args[i] == "--plan")
            planPath = args[++i];
        else if (args[i] == "--thumb-width")
            thumbWidth = std::stoi(args[++i]);
        else if (args[i] == "--columns")
            columns = std::stoi(args[++i]);
        else
            throw Error("unknown option '" + args[i] + "'");
    }
    if (thumbWidth < 8 || thumbWidth > 4096)
        throw Error("--thumb-width must lie between 8 and 4096");

    std::map<int, double> positions;
    if (!planPath.empty())
        positions = readPlan(planPath);
    Row source{"SOURCE FRAMES", {}, {}};
    addSequence(source, args[0], thumbWidth, nullptr);
    Row retimed{planPath.empty() ? "RETIMED FRAMES" : "RETIMED FRAMES (SOURCE POSITIONS)", {}, {}};
    addSequence(retimed, args[1], thumbWidth, planPath.empty() ? nullptr : &positions);
    if (columns <= 0)
        columns = std::min(kMaxDefaultColumns, int(source.pictures.size()));

    const int thumbHeight = source.pictures.front().height;
    const int headingHeight = tweenora::examples::kGlyphHeight * kTextScale + 2 * kGap;
    auto rowsOf = [&](const Row& row) {
        return (int(row.pictures.size()) + columns - 1) / columns;
    };
    const int width = 2 * kMargin + columns * thumbWidth + (columns - 1) * kGap;
    int height = 2 * kMargin;
    for (const Row* row : {&source, &retimed})
        height += headingHeight + rowsOf(*row) * (thumbHeight + kGap);
    Picture canvas(width, height, kBackground);

    int top = kMargin;
    for (const Row* row : {&source, &retimed}) {
        drawLabel(canvas, row->heading, kMargin, top + kGap, false);
        top += headingHeight;
        for (size_t i = 0; i < row->pictures.size(); ++i) {
            const int left = kMargin + int(i % columns) * (thumbWidth + kGap);
            const int cellTop = top + int(i / columns) * (thumbHeight + kGap);
            paste(canvas, row->pictures[i], left, cellTop);
            drawLabel(canvas, row->labels[i], left + 4, cellTop + 4, true);
        }
        top += rowsOf(*row) * (thumbHeight + kGap);
    }

    const std::string& outPath = args[2];
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(outPath);
    if (!out)
        throw Error("cannot write '" + outPath + "': " + OIIO::geterror());
    const OIIO::ImageSpec spec(canvas.width, canvas.height, 3, OIIO::TypeDesc::UINT8);
    if (!out->open(outPath, spec) || !out->write_image(OIIO::TypeDesc::UINT8, canvas.rgb.data()) ||
        !out->close())
        throw Error("cannot write '" + outPath + "': " + out->geterror());
    std::cout << "wrote " << outPath << " (" << source.pictures.size() << " source and "
              << retimed.pictures.size() << " retimed frames)\n";
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    return tweenora::examples::runTool("tweenora-contact-sheet", kUsage, 3, argc, argv, run);
}
