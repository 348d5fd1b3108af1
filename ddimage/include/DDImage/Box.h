// SPDX-License-Identifier: Apache-2.0
// Box: an integer rectangle with exclusive right and top edges.
#pragma once

#include <cstdint>

namespace DD {
namespace Image {

//! Left, bottom, right, top; r and t are exclusive, so w = r - x and h = t - y.
//! A default box is the single pixel (0, 0, 1, 1).
class Box {
public:
    Box() : x_(0), y_(0), r_(1), t_(1) {}
    Box(int x, int y, int r, int t) : x_(x), y_(y), r_(r), t_(t) {}
    Box(const Box& b) = default;
    Box& operator=(const Box& b) = default;

    int x() const { return x_; }
    void x(int v) { x_ = v; }
    int y() const { return y_; }
    void y(int v) { y_ = v; }
    int r() const { return r_; }
    void r(int v) { r_ = v; }
    int t() const { return t_; }
    void t(int v) { t_ = v; }
    int w() const { return r_ - x_; }
    void w(int v) { r_ = x_ + v; }
    int h() const { return t_ - y_; }
    void h(int v) { t_ = y_ + v; }
    float center_x() const { return (x_ + r_) * 0.5f; }
    float center_y() const { return (y_ + t_) * 0.5f; }

    void set(int x, int y, int r, int t);
    void set(const Box& b) { *this = b; }
    bool is_constant() const { return r_ - x_ <= 1 && t_ - y_ <= 1; }
    void clear() { set(0, 0, 1, 1); }
    void move(int dx, int dy);
    void pad(int dx, int dy, int dr, int dt);
    void pad(int dx, int dy) { pad(-dx, -dy, dx, dy); }
    void pad(int d) { pad(d, d); }
    int clampx(int x) const;
    int clampy(int y) const;
    void merge(const Box& b);
    void merge(int x, int y);
    void merge(int x, int y, int r, int t);
    void expand(int amount) { pad(amount); }
    void expand(int widthAmount, int heightAmount) { pad(widthAmount, heightAmount); }
    void intersect(const Box& b);
    void intersect(int x, int y, int r, int t);
    bool intersects(const Box& other) const;
    bool intersects(int x, int y, int r, int t) const;
    bool contains(const Box& other) const;
    int64_t area() const { return int64_t(w()) * int64_t(h()); }

    bool operator==(const Box& b) const {
        return x_ == b.x_ && y_ == b.y_ && r_ == b.r_ && t_ == b.t_;
    }
    bool operator!=(const Box& b) const { return !(*this == b); }

private:
    int x_, y_, r_, t_;
};

}  // namespace Image
}  // namespace DD
