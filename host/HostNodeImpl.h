// SPDX-License-Identifier: Apache-2.0
// What a host node holds: its ops, its knobs and its inputs (host sources only).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <DDImage/Knobs.h>
#include <DDImage/Op.h>

#include "host/HostKnob.h"
#include "host/Script.h"

namespace tweenora::host {

struct HostNode::Impl {
    Script* script = nullptr;
    std::function<DD::Image::Op*(Node*)> build;
    std::vector<std::unique_ptr<HostKnob>> ownedKnobs;
    std::vector<HostKnob*> knobs;
    //! ops[0] is the first op: it made the knobs and receives knob_changed.
    std::vector<std::unique_ptr<DD::Image::Op>> ops;
    //! The evaluation that last claimed each op (ops are reused across frames).
    std::vector<unsigned> claimed;
    std::vector<HostNode*> inputs;
    DD::Image::Op* current = nullptr;
    //! Set while the host itself invalidates an op, which is not an edit.
    bool hostInvalidating = false;
    std::mutex reportMutex;
};

//! The pass that makes the knobs: one HostKnob per declaration, in order.
class MakeKnobsClosure : public DD::Image::Knob_Closure {
public:
    explicit MakeKnobsClosure(HostNode::Impl& impl) : Knob_Closure(true), impl_(impl) {}
    DD::Image::Knob* operator()(int type, DD::Image::StoreType store, void* data, const char* name,
                                const char* label, const void* extra) override;

private:
    HostNode::Impl& impl_;
};

//! A store pass: walks the declarations in order and writes each knob's value
//! at frame into the field behind it.
class StoreKnobsClosure : public DD::Image::Knob_Closure {
public:
    StoreKnobsClosure(HostNode::Impl& impl, double frame)
        : Knob_Closure(false), impl_(impl), frame_(frame) {}
    DD::Image::Knob* operator()(int type, DD::Image::StoreType store, void* data, const char* name,
                                const char* label, const void* extra) override;

private:
    HostKnob* match(int type, const char* name);

    HostNode::Impl& impl_;
    double frame_;
    size_t next_ = 0;
};

//! Makes one more op for the node. Throws tweenora::Error when the class gives none.
DD::Image::Op* addOp(HostNode& node, HostNode::Impl& impl);
//! Stores every knob's value at the op's frame into the op's fields.
void storeKnobs(HostNode::Impl& impl, DD::Image::Op& op);
//! Marks op out of date without counting it as an edit.
void invalidateQuietly(HostNode::Impl& impl, DD::Image::Op& op);

}  // namespace tweenora::host
