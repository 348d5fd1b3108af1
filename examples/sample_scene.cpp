// SPDX-License-Identifier: Apache-2.0
// The sample clip's scene: analytic motion, procedural textures, analytic anti-aliasing.
#include "examples/sample_scene.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#include <OpenImageIO/imageio.h>

#include "host/Error.h"

namespace tweenora::examples {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kDegree = kPi / 180.0;

// Sizes, speeds and texture periods are given for a frame 48 rows high and
// scale with the height, so every resolution shows the same picture.
constexpr double kReferenceHeight = 48.0;

struct Rgb {
    double r = 0.0, g = 0.0, b = 0.0;
};

struct Vec {
    double x = 0.0, y = 0.0;
};

Vec rotate(Vec v, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return {c * v.x - s * v.y, s * v.x + c * v.y};
}

double clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}

// One moving object: where it is at time tau (frames since the first frame),
// in pixels with rows from the top.
struct Placement {
    Vec centre;
    double angle = 0.0;
    double scale = 1.0;  //!< object units to reference pixels
};

// Band-limited texture of the background, in reference pixels.
Rgb backgroundColour(Vec p) {
    const double a = std::sin(kTwoPi * (p.x / 23.0 + 0.3 * p.y / 23.0));
    const double b = std::sin(kTwoPi * (0.7 * p.x / 11.0 - p.y / 11.0) + 1.3);
    const double c = std::sin(kTwoPi * p.x / 5.3) * std::sin(kTwoPi * p.y / 6.1);
    const double d = std::sin(kTwoPi * (p.x / 41.0 + p.y / 37.0) + 0.4);
    return {0.20 + 0.08 * a + 0.05 * c + 0.04 * d, 0.16 + 0.06 * b + 0.05 * c,
            0.22 + 0.07 * d + 0.05 * b - 0.04 * c};
}

// The disc: radius 9, an orange pattern with rings, and a highlight peaking at
// 6.0 that turns with it.
constexpr double kDiscRadius = 9.0;

Rgb discColour(Vec q) {
    const double pattern = 0.6 + 0.4 * std::sin(kTwoPi * q.x / 3.1) * std::cos(kTwoPi * q.y / 4.3);
    const double rings = 0.15 * std::sin(kTwoPi * std::hypot(q.x, q.y) / 2.2);
    const double dx = q.x - 2.5, dy = q.y + 3.0;
    const double highlight = 6.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * 1.2 * 1.2));
    return {0.8 * pattern + rings + highlight, 0.35 * pattern + 0.3 * rings + highlight,
            0.1 * pattern + 0.9 * highlight};
}

// The rounded square: half size 6.5, corner radius 1.5, a blue soft checker
// and a rim brighter than 1.0.
constexpr double kSquareHalf = 6.5;
constexpr double kSquareCorner = 1.5;

double squareDistance(Vec q) {
    const double inner = kSquareHalf - kSquareCorner;
    const double dx = std::abs(q.x) - inner, dy = std::abs(q.y) - inner;
    const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
    return outside + std::min(std::max(dx, dy), 0.0) - kSquareCorner;
}

Rgb squareColour(Vec q, double distance) {
    const double checker = 0.5 + 0.5 * std::sin(kTwoPi * q.x / 2.7) * std::sin(kTwoPi * q.y / 2.7);
    const double band = (distance + 0.6) / 0.35;
    const double rim = 1.4 * std::exp(-0.5 * band * band);
    return {0.15 * checker + 0.3 * rim, 0.35 * checker + 0.8 * rim, 0.75 * checker + rim};
}

struct Scene {
    double unit;  // pixels per reference pixel
    Vec backgroundShift;
    Placement disc;
    Placement square;
};

Scene sceneAt(double time, int width, int height) {
    const double tau = time - 1.0;
    const double unit = height / kReferenceHeight;
    Scene scene;
    scene.unit = unit;
    scene.backgroundShift = {0.37 * unit * tau, -0.21 * unit * tau};
    scene.disc.centre = {0.28 * width + 1.3 * unit * tau, 0.42 * height + 0.45 * unit * tau};
    scene.disc.angle = 5.0 * kDegree * tau;
    scene.disc.scale = unit;
    scene.square.centre = {0.70 * width - 0.9 * unit * tau, 0.58 * height - 0.3 * unit * tau};
    scene.square.angle = -3.0 * kDegree * tau;
    scene.square.scale = unit * (1.0 + 0.03 * tau);
    return scene;
}

// Object coordinates of pixel position p.
Vec toObject(const Placement& placement, Vec p) {
    const Vec local =
        rotate({p.x - placement.centre.x, p.y - placement.centre.y}, -placement.angle);
    return {local.x / placement.scale, local.y / placement.scale};
}

// Coverage of a pixel by a shape whose signed distance (in pixels) at the pixel
// centre is given: a one-pixel ramp, continuous in the shape's position.
double coverage(double distancePixels) {
    return clamp01(0.5 - distancePixels);
}

void renderRows(const Scene& scene, const SampleOptions& options, int rowBegin, int rowEnd,
                SampleImage& image) {
    const size_t nch = image.channels.size();
    for (int y = rowBegin; y < rowEnd; ++y) {
        for (int x = 0; x < options.width; ++x) {
            const Vec p{x + 0.5, y + 0.5};
            const Vec bg{(p.x - scene.backgroundShift.x) / scene.unit,
                         (p.y - scene.backgroundShift.y) / scene.unit};
            Rgb colour = backgroundColour(bg);
            double depth = 60.0 + 20.0 * p.y / options.height;

            const Vec sq = toObject(scene.square, p);
            const double sqDistance = squareDistance(sq);
            const double sqCover = coverage(sqDistance * scene.square.scale);
            if (sqCover > 0.0) {
                const Rgb c = squareColour(sq, sqDistance);
                colour = {colour.r + (c.r - colour.r) * sqCover,
                          colour.g + (c.g - colour.g) * sqCover,
                          colour.b + (c.b - colour.b) * sqCover};
                depth += (20.0 - depth) * sqCover;
            }

            const Vec dq = toObject(scene.disc, p);
            const double discDistance = std::hypot(dq.x, dq.y) - kDiscRadius;
            const double discCover = coverage(discDistance * scene.disc.scale);
            if (discCover > 0.0) {
                const Rgb c = discColour(dq);
                colour = {colour.r + (c.r - colour.r) * discCover,
                          colour.g + (c.g - colour.g) * discCover,
                          colour.b + (c.b - colour.b) * discCover};
                depth += (10.0 + 0.05 * dq.x - depth) * discCover;
            }

            float* out = &image.pixels[(size_t(y) * options.width + x) * nch];
            out[0] = float(colour.r);
            out[1] = float(colour.g);
            out[2] = float(colour.b);
            out[3] = float(1.0 - (1.0 - sqCover) * (1.0 - discCover));
            if (options.depth)
                out[4] = float(depth);
        }
    }
}

}  // namespace

SampleImage renderSampleFrame(double time, const SampleOptions& options) {
    if (options.width < 1 || options.height < 1)
        throw Error("sample frame size must be at least 1 x 1");
    SampleImage image;
    image.width = options.width;
    image.height = options.height;
    image.channels = {"R", "G", "B", "A"};
    if (options.depth)
        image.channels.push_back("depth.Z");
    image.pixels.assign(size_t(options.width) * options.height * image.channels.size(), 0.0f);

    const Scene scene = sceneAt(time, options.width, options.height);
    const int threads =
        int(std::max(1u, std::min(std::thread::hardware_concurrency(), unsigned(options.height))));
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        const int begin = options.height * i / threads, end = options.height * (i + 1) / threads;
        workers.emplace_back([&, begin, end] { renderRows(scene, options, begin, end, image); });
    }
    for (std::thread& worker : workers)
        worker.join();
    return image;
}

void writeSampleExr(const SampleImage& image, const std::string& path, bool halfFloat) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out)
        throw Error("cannot write '" + path + "': " + OIIO::geterror());
    OIIO::ImageSpec spec(image.width, image.height, int(image.channels.size()),
                         halfFloat ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
    spec.channelnames = image.channels;
    spec.alpha_channel = 3;
    spec.z_channel = image.channels.size() > 4 ? 4 : -1;
    spec.attribute("compression", "zip");
    if (!out->open(path, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, image.pixels.data()) ||
        !out->close())
        throw Error("cannot write '" + path + "': " + out->geterror());
}

}  // namespace tweenora::examples
