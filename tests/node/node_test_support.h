// SPDX-License-Identifier: Apache-2.0
// What the node tests share: a fake GPU, captured console output and logger
// lines, and environment variables set for one test.
#pragma once

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/Format.h>

#include "host/Clip.h"
#include "model/gpu_queries.h"

namespace tweenora::testing {

//! GPU answers chosen by the test. The defaults describe a CUDA 11.8 / cuDNN
//! 8.4.1 build with native kernels up to sm_90 and no device.
class FakeGpu : public model::GpuQueries {
public:
    std::vector<model::GpuDeviceProperties> devices;
    bool build = true;
    std::string configuration =
        "PyTorch built with:\n"
        "  - CuDNN 8.4.1\n"
        "  - NVCC architecture flags: -gencode;arch=compute_80,code=sm_80;-gencode;arch=compute_"
        "90,code=sm_90\n"
        "  - CUDA Runtime 11.8\n";
    long cudaRuntime = 11080;
    long cuDnn = 8401;
    mutable int cacheEmptied = 0;

    //! count devices of compute capability major.minor with gigabytes of memory.
    static FakeGpu withDevices(int count, int major = 8, int minor = 6, uint64_t gigabytes = 24) {
        FakeGpu gpu;
        for (int i = 0; i < count; ++i)
            gpu.devices.push_back({"Fake GPU " + std::to_string(i), gigabytes << 30, major, minor});
        return gpu;
    }
    //! A libtorch without CUDA, as Debian ships it.
    static FakeGpu cpuOnly() {
        FakeGpu gpu;
        gpu.build = false;
        gpu.configuration.clear();
        gpu.cudaRuntime = 0;
        gpu.cuDnn = 0;
        return gpu;
    }

    bool isAvailable() const override { return !devices.empty(); }
    int deviceCount() const override { return static_cast<int>(devices.size()); }
    model::GpuDeviceProperties deviceProperties(int index) const override {
        return devices.at(static_cast<size_t>(index));
    }
    bool cudaBuild() const override { return build; }
    std::string buildConfiguration() const override { return configuration; }
    long versionCUDART() const override { return cudaRuntime; }
    long versionCuDNN() const override { return cuDnn; }
    void emptyCache() const override { ++cacheEmptied; }
};

//! Collects what is written to std::cout while alive.
class CoutCapture {
public:
    CoutCapture() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

//! Routes the default logger into a string ("<level>: <message>" lines) while alive.
class LogCapture {
public:
    LogCapture() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(buffer_);
        sink->set_pattern("%l: %v");
        auto logger = std::make_shared<spdlog::logger>("", sink);
        logger->set_level(spdlog::get_level());
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() {
        const spdlog::level::level_enum level = spdlog::get_level();
        spdlog::set_default_logger(previous_);
        spdlog::set_level(level);
    }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::shared_ptr<spdlog::logger> previous_;
};

//! Sets (or, with no value, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()))
            previous_ = old;
        apply(value);
    }
    ~ScopedEnv() { apply(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> previous_;
};

//! Frames 1 to 10 of width x height with a red channel; the pixels play no part.
inline std::shared_ptr<host::Clip> clipOfSize(int width, int height) {
    auto frames = std::make_shared<host::MemoryFrames>();
    for (int frame = 1; frame <= 10; ++frame) {
        host::ClipFrame data;
        data.box = DD::Image::Box(0, 0, width, height);
        data.format = DD::Image::Format(width, height);
        data.planes[DD::Image::Chan_Red] = {};
        frames->setFrame(frame, std::move(data));
    }
    return std::make_shared<host::Clip>(frames);
}

}  // namespace tweenora::testing
