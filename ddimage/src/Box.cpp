// SPDX-License-Identifier: Apache-2.0
// Box: rectangle arithmetic with exclusive right and top edges.
#include "DDImage/Box.h"

#include <algorithm>

namespace DD {
namespace Image {

void Box::set(int x, int y, int r, int t) {
    x_ = x;
    y_ = y;
    r_ = r;
    t_ = t;
}

void Box::move(int dx, int dy) {
    x_ += dx;
    y_ += dy;
    r_ += dx;
    t_ += dy;
}

void Box::pad(int dx, int dy, int dr, int dt) {
    x_ += dx;
    y_ += dy;
    r_ += dr;
    t_ += dt;
}

int Box::clampx(int x) const {
    return std::max(x_, std::min(x, r_ - 1));
}

int Box::clampy(int y) const {
    return std::max(y_, std::min(y, t_ - 1));
}

void Box::merge(const Box& b) {
    // An empty box adds nothing; merging into an empty one takes the other.
    if (b.w() <= 0 || b.h() <= 0)
        return;
    if (w() <= 0 || h() <= 0) {
        *this = b;
        return;
    }
    x_ = std::min(x_, b.x_);
    y_ = std::min(y_, b.y_);
    r_ = std::max(r_, b.r_);
    t_ = std::max(t_, b.t_);
}

void Box::merge(int x, int y) {
    merge(Box(x, y, x + 1, y + 1));
}

void Box::merge(int x, int y, int r, int t) {
    merge(Box(x, y, r, t));
}

void Box::intersect(const Box& b) {
    x_ = std::max(x_, b.x_);
    y_ = std::max(y_, b.y_);
    r_ = std::min(r_, b.r_);
    t_ = std::min(t_, b.t_);
    // Disjoint boxes leave an empty box (zero width or height), never a negative one.
    if (r_ < x_)
        r_ = x_;
    if (t_ < y_)
        t_ = y_;
}

void Box::intersect(int x, int y, int r, int t) {
    intersect(Box(x, y, r, t));
}

bool Box::intersects(const Box& other) const {
    return std::max(x_, other.x_) < std::min(r_, other.r_) &&
           std::max(y_, other.y_) < std::min(t_, other.t_);
}

bool Box::intersects(int x, int y, int r, int t) const {
    return intersects(Box(x, y, r, t));
}

bool Box::contains(const Box& other) const {
    return other.x_ >= x_ && other.y_ >= y_ && other.r_ <= r_ && other.t_ <= t_;
}

}  // namespace Image
}  // namespace DD
