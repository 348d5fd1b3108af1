// SPDX-License-Identifier: Apache-2.0
// OutputContext: the frame and view at which an op is evaluated.
#pragma once

#include <ostream>
#include <string>

namespace DD {
namespace Image {

class Hash;

class ProxyContext {
public:
    virtual ~ProxyContext() = default;
};

class OutputContext : public ProxyContext {
public:
    enum LineReadPreference { eScanlineAlways, ePreferScanline, ePreferAllLines };

    OutputContext() = default;
    OutputContext(const OutputContext& src) = default;
    OutputContext& operator=(const OutputContext& src) = default;
    OutputContext(const OutputContext& src, double frame, int view = -1);
    OutputContext(const OutputContext& src, int view);
    OutputContext(double frame, int view);

    double frame() const { return frame_; }
    void setFrame(double v) { frame_ = v; }
    int view() const { return view_; }
    void setView(int view) { view_ = view <= 0 ? 1 : view; }
    void append(Hash& hash) const;

    bool operator==(const OutputContext& other) const;
    bool operator!=(const OutputContext& other) const { return !(*this == other); }
    bool operator<(const OutputContext& other) const;
    bool operator>(const OutputContext& other) const { return other < *this; }

    static const OutputContext& defaultContext();

    friend std::ostream& operator<<(std::ostream& o, const OutputContext& c);

private:
    double frame_ = 0.0;
    int view_ = 1;
};

}  // namespace Image
}  // namespace DD
