// SPDX-License-Identifier: Apache-2.0
// Rendering speed of one 1920 x 1080 RGBA frame through the headless host: the
// threshold fast path, the straight-through copy and the interpolation road
// with an identity network (so only our own work is timed), each as
// milliseconds and as a multiple of a plain memory copy of the bytes that road
// must touch at the least, measured in the same run.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <ATen/Parallel.h>
#include <benchmark/benchmark.h>
#include <torch/script.h>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/Format.h>

#include "host/Clip.h"
#include "host/Script.h"
#include "node/Tweenora.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds of the whole process: on a shared, loaded machine the wall clock
// also counts other processes' turns, so both are reported.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Seconds {
    double wall = 0.0, cpu = 0.0;
};

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 4 * sizeof(float);

std::shared_ptr<tweenora::host::Clip> benchClip() {
    using namespace DD::Image;
    auto frames = std::make_shared<tweenora::host::MemoryFrames>();
    for (int f = 1; f <= 2; ++f) {
        tweenora::host::ClipFrame frame;
        frame.box = Box(0, 0, kWidth, kHeight);
        frame.format = Format(kWidth, kHeight);
        int c = 0;
        for (Channel z : {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha}) {
            std::vector<float> values(size_t(kWidth) * kHeight);
            for (size_t i = 0; i < values.size(); ++i) {
                values[i] = float((i * 7 + size_t(c) * 13 + size_t(f)) % 1000) / 250.0f;
            }
            frame.planes[z] = std::move(values);
            ++c;
        }
        frames->setFrame(f, std::move(frame));
    }
    return std::make_shared<tweenora::host::Clip>(frames);
}

torch::jit::Module identityNetwork() {
    torch::jit::Module m("Identity");
    m.define(
        "def forward(self, img0: Tensor, img1: Tensor, timestep: float, steps: int, "
        "flow_magnitude: int, threshold: float, downscale: float) -> Tensor:\n"
        "    return img0\n");
    return m;
}

// The fastest of a few plain copies of `bytes` (pages touched first).
Seconds memcpySeconds(size_t bytes) {
    std::vector<char> from(bytes, 1), to(bytes, 0);
    Seconds best{1e9, 1e9};
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        const double cpuStart = cpuSeconds();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        best.cpu = std::min(best.cpu, cpuSeconds() - cpuStart);
        best.wall =
            std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// A Tweenora node on the clip, rendering one output frame at source position.
struct Rig {
    tweenora::host::Script script;
    tweenora::host::HostNode* node = nullptr;

    explicit Rig(float position) {
        tweenora::host::HostNode& source = script.createSource(benchClip());
        node = &script.createNode("Tweenora");
        script.connect(*node, 0, source);
        node->setKnob("mode", "Frame");
        node->setKnob("output_frame", std::to_string(position));
        auto* op = node->opAs<tweenora::Tweenora>();
        op->model = identityNetwork();
        op->model_loaded = true;
    }
};

// Times rig's render of rgba per iteration and reports ms and the ratio to a
// copy of `touchedBytes`.
void runRender(benchmark::State& state, Rig& rig, size_t touchedBytes) {
    const Seconds copy = memcpySeconds(touchedBytes);
    Seconds total;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = cpuSeconds();
        auto planes = rig.script.render(*rig.node, 1, DD::Image::Mask_RGBA);
        total.cpu += cpuSeconds() - cpuStart;
        total.wall += std::chrono::duration<double>(Clock::now() - start).count();
        if (rig.node->hasError()) {
            state.SkipWithError(rig.node->errorMessage().c_str());
            break;
        }
        benchmark::DoNotOptimize(planes.data());
    }
    const double iterations = double(std::max<int64_t>(1, state.iterations()));
    state.counters["ms"] = total.wall / iterations * 1e3;
    state.counters["cpu_ms"] = total.cpu / iterations * 1e3;
    state.counters["memcpy_ms"] = copy.wall * 1e3;
    state.counters["x_memcpy"] = total.wall / iterations / copy.wall;
    state.counters["x_memcpy_cpu"] = total.cpu / iterations / copy.cpu;
}

// Fast path: frame 2 returned unprocessed, against a copy of one frame.
void BM_FastPath(benchmark::State& state) {
    Rig rig(2.0f);
    runRender(state, rig, kFrameBytes);
}

// Straight-through copy: no channel of the layer is processed.
void BM_StraightThroughCopy(benchmark::State& state) {
    Rig rig(1.5f);
    rig.node->setKnob("input_channels", "none");
    runRender(state, rig, kFrameBytes);
}

// The interpolation road, PU21 on; range(0) libtorch threads (0: its default).
void BM_InterpolationRoad(benchmark::State& state) {
    const int defaultThreads = at::get_num_threads();
    if (state.range(0) > 0) {
        at::set_num_threads(int(state.range(0)));
    }
    {
        Rig rig(1.5f);
        runRender(state, rig, 3 * kFrameBytes);  // two frames read, one written
    }
    state.counters["threads"] = at::get_num_threads();
    at::set_num_threads(defaultThreads);
}

BENCHMARK(BM_FastPath)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StraightThroughCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InterpolationRoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
