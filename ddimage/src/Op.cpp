// SPDX-License-Identifier: Apache-2.0
// Op: the class registry, the validate/open/close state machine, and the
// forwarding of knob look-ups, errors, progress and aborts to the host's node.
#include "DDImage/Op.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

#include <ddimage_host/Node.h>

#include "DDImage/Iop.h"

namespace DD {
namespace Image {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<const Op::Description*> records;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void announce(const Op::Description* record) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.records.push_back(record);
}

std::string formatMessage(const char* fmt, va_list args) {
    if (!fmt)
        return std::string();
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(size_t(length));
    return text;
}

}  // namespace

Op::Description::Description(const char* n, OpConstructor c, License* l)
    : name(n), menu(nullptr), opConstructor_(c) {
    license = l;
    announce(this);
}

Op::Description::Description(const char* n, const char* m, OpConstructor c)
    : name(n), menu(m), opConstructor_(c) {
    announce(this);
}

Op::Description::Description(const char* n, const char* m, IopConstructor c)
    : name(n), menu(m), iopConstructor_(c) {
    announce(this);
}

Op* Op::Description::constructor(Node* node) const {
    if (opConstructor_)
        return opConstructor_(node);
    if (iopConstructor_)
        return iopConstructor_(node);
    return nullptr;
}

const Op::Description* Op::Description::find(int i) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return i >= 0 && size_t(i) < r.records.size() ? r.records[size_t(i)] : nullptr;
}

void* Op::operator new(size_t size) {
    return ::operator new(size);
}

void Op::operator delete(void* p) {
    ::operator delete(p);
}

Op::Op(Node* node) : node_(node) {}

Op::~Op() = default;

std::string Op::node_name() const {
    return node_ ? node_->name() : std::string();
}

void Op::knobs(Knob_Callback) {}

int Op::knob_changed(Knob*) {
    return 0;
}

Knob* Op::knob(const char* name) const {
    return node_ && name ? node_->findKnob(this, name) : nullptr;
}

Op* Op::input(int n) const {
    return n >= 0 && size_t(n) < inputs_.size() ? inputs_[size_t(n)] : nullptr;
}

void Op::inputs(int n) {
    inputs_.resize(size_t(n < 0 ? 0 : n), nullptr);
}

const OutputContext& Op::inputContext(int, int, OutputContext&) const {
    return outputContext_;
}

void Op::setOutputContext(const OutputContext& c) {
    outputContext_ = c;
}

void Op::set_input(int i, Op* op, int /*input*/, int /*offset*/) {
    if (i < 0)
        return;
    if (size_t(i) >= inputs_.size())
        inputs_.resize(size_t(i) + 1, nullptr);
    inputs_[size_t(i)] = op;
}

void Op::append(Hash&) {}

void Op::validate(bool for_real) {
    if (for_real ? real_valid() : valid_)
        return;
    hasError_ = false;
    errorMessage_.clear();
    _validate(for_real);
    ++validations_;
    valid_ = true;
    realValid_ = realValid_ || for_real;
    // What the op opened was for its old state: the next open() runs _open again.
    reopen_ = true;
}

bool Op::tryValidate(bool for_real) {
    validate(for_real);
    return !hasError_;
}

void Op::force_validate(bool for_real) {
    valid_ = false;
    realValid_ = false;
    validate(for_real);
}

bool Op::invalidate() {
    const bool wasValid = valid_;
    valid_ = false;
    realValid_ = false;
    _invalidate();
    if (node_)
        node_->invalidated(this);
    return wasValid;
}

void Op::open() {
    if (!real_valid())
        validate(true);
    if (opened_ && !reopen_)
        return;
    opened_ = true;
    reopen_ = false;
    _open();
}

void Op::close() {
    if (!opened_)
        return;
    opened_ = false;
    reopen_ = false;
    _close();
}

bool Op::aborted() const {
    return node_ && node_->aborted(this);
}

bool Op::cancelled() const {
    return node_ && node_->cancelled(this);
}

void Op::abort() const {
    if (node_)
        node_->abort(this);
}

void Op::enterErrorState(const std::string& message) {
    hasError_ = true;
    errorMessage_ = message;
    if (node_)
        node_->reportError(this, message);
}

void Op::error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string message = formatMessage(fmt, args);
    va_end(args);
    enterErrorState(message);
}

void Op::critical(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string message = formatMessage(fmt, args);
    va_end(args);
    enterErrorState(message);
}

void Op::warning(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string message = formatMessage(fmt, args);
    va_end(args);
    if (node_)
        node_->reportWarning(this, message);
}

void Op::progressFraction(double fraction, StatusFlags flags) {
    if (node_)
        node_->progressFraction(this, fraction, int(flags));
}

void Op::progressFraction(int done, int total, StatusFlags flags) {
    progressFraction(total > 0 ? double(done) / double(total) : 0.0, flags);
}

void Op::progressMessage(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string message = formatMessage(fmt, args);
    va_end(args);
    if (node_)
        node_->progressMessage(this, message);
}

void Op::progressModalMessage(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string message = formatMessage(fmt, args);
    va_end(args);
    if (node_)
        node_->progressMessage(this, message);
}

void Op::progressDismiss() {
    if (node_)
        node_->progressDismiss(this);
}

void Op::_validate(bool) {}

}  // namespace Image
}  // namespace DD
