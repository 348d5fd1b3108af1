// SPDX-License-Identifier: Apache-2.0
// HostNode: a node's ops and knobs, the knob passes, edits and what ops report.
#include "host/HostNode.h"

#include <DDImage/Knob.h>

#include "host/Error.h"
#include "host/HostNodeImpl.h"
#include "host/Script.h"

namespace tweenora::host {

using DD::Image::Knob;
using DD::Image::Op;

DD::Image::Knob* MakeKnobsClosure::operator()(int type, DD::Image::StoreType store, void* data,
                                              const char* name, const char* label,
                                              const void* extra) {
    impl_.ownedKnobs.push_back(
        std::make_unique<HostKnob>(this, type, store, name, label, extra, data));
    HostKnob* knob = impl_.ownedKnobs.back().get();
    impl_.knobs.push_back(knob);
    lastKnob_ = knob;
    ++knobCount_;
    return knob;
}

HostKnob* StoreKnobsClosure::match(int type, const char* name) {
    const std::vector<HostKnob*>& knobs = impl_.knobs;
    auto same = [&](const HostKnob* knob) {
        return knob->ClassID() == type && knob->name() == (name ? name : "");
    };
    // Declarations come in the same order on every pass; fall back to the
    // name should a pass declare fewer or more knobs than the first.
    if (next_ < knobs.size() && same(knobs[next_]))
        return knobs[next_++];
    if (!name || !*name)
        return nullptr;
    for (size_t i = 0; i < knobs.size(); ++i)
        if (same(knobs[i])) {
            next_ = i + 1;
            return knobs[i];
        }
    return nullptr;
}

DD::Image::Knob* StoreKnobsClosure::operator()(int type, DD::Image::StoreType, void* data,
                                               const char* name, const char*, const void* extra) {
    HostKnob* knob = match(type, name);
    lastKnob_ = knob;
    ++knobCount_;
    if (!knob)
        return nullptr;
    knob->redeclare(extra);
    knob->storeInto(data, frame_);
    return knob;
}

Op* addOp(HostNode& node, HostNode::Impl& impl) {
    Op* op = impl.build(&node);
    if (!op)
        throw Error("node " + node.name() + ": the class " + node.className() + " made no op");
    impl.ops.emplace_back(op);
    impl.claimed.push_back(0);
    return op;
}

void storeKnobs(HostNode::Impl& impl, Op& op) {
    StoreKnobsClosure store(impl, op.outputContext().frame());
    op.knobs(store);
}

void invalidateQuietly(HostNode::Impl& impl, Op& op) {
    impl.hostInvalidating = true;
    op.invalidate();
    impl.hostInvalidating = false;
}

HostNode::HostNode(Script& script, std::string className, std::string name)
    : impl_(std::make_unique<Impl>()), className_(std::move(className)), name_(std::move(name)) {
    impl_->script = &script;
}

HostNode::~HostNode() {
    for (auto& op : impl_->ops)
        op->close();
    impl_->ops.clear();
}

Op* HostNode::op() {
    if (impl_->current)
        return impl_->current;
    if (impl_->ops.empty())
        impl_->current = addOp(*this, *impl_);
    else
        impl_->current = impl_->ops.front().get();
    return impl_->current;
}

const std::vector<HostKnob*>& HostNode::knobs() const {
    return impl_->knobs;
}

HostKnob* HostNode::knob(const std::string& name) const {
    if (name.empty())
        return nullptr;
    for (HostKnob* knob : impl_->knobs)
        if (knob->name() == name)
            return knob;
    return nullptr;
}

void HostNode::afterEdit(HostKnob& knob) {
    // The knob writes straight into the first op's field, without another
    // knobs() pass; other ops get the value on their next store pass. Then the
    // first op hears of it, unless the knob asked not to be told.
    if (impl_->ops.empty())
        return;
    knob.storeIntoOwnField(impl_->ops.front()->outputContext().frame());
    if (knob.any_of(Knob::NO_KNOB_CHANGED))
        return;
    impl_->script->preparePanel(*this);
    impl_->ops.front()->knob_changed(&knob);
}

void HostNode::setKnob(const std::string& name, const std::string& text) {
    HostKnob* k = knob(name);
    if (!k)
        throw Error("node " + name_ + " has no knob " + name);
    k->setFromText(text);
    afterEdit(*k);
}

void HostNode::setKey(const std::string& name, double frame, double value) {
    HostKnob* k = knob(name);
    if (!k)
        throw Error("node " + name_ + " has no knob " + name);
    k->setKeyAt(frame, value);
    afterEdit(*k);
}

void HostNode::openPanel() {
    if (impl_->ops.empty())
        return;
    impl_->script->preparePanel(*this);
    impl_->ops.front()->knob_changed(&Knob::showPanel);
}

std::string HostNode::errorMessage() const {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    return errors_.empty() ? std::string() : errors_.back();
}

void HostNode::clearErrors() {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    errors_.clear();
}

DD::Image::Knob* HostNode::findKnob(const Op*, const char* name) {
    return name ? knob(name) : nullptr;
}

void HostNode::reportError(Op*, const std::string& message) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    errors_.push_back(message);
}

void HostNode::reportWarning(Op*, const std::string& message) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    warnings_.push_back(message);
}

void HostNode::setProgressListener(std::function<void(const std::string&)> listener) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    progressListener_ = std::move(listener);
}

void HostNode::progressMessage(Op*, const std::string& message) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    progressMessages_.push_back(message);
    if (progressListener_)
        progressListener_(message);
}

void HostNode::progressFraction(Op*, double fraction, int) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    progressFractions_.push_back(fraction);
}

void HostNode::progressDismiss(Op*) {
    std::lock_guard<std::mutex> lock(impl_->reportMutex);
    ++progressDismissals_;
}

void HostNode::invalidated(Op*) {
    if (!impl_->hostInvalidating)
        ++invalidations_;
}

}  // namespace tweenora::host
