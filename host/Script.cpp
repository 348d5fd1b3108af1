// SPDX-License-Identifier: Apache-2.0
// Script: creating nodes and driving their ops as the host application does.
#include "host/Script.h"

#include <algorithm>
#include <map>
#include <set>

#include <DDImage/Iop.h>
#include <DDImage/PlanarIop.h>

#include "host/ClipReader.h"
#include "host/Error.h"
#include "host/HostNodeImpl.h"

namespace tweenora::host {

using DD::Image::Iop;
using DD::Image::Op;
using DD::Image::OutputContext;

struct Script::Prepared {
    HostNode* node;
    Op* op;
};

namespace {

int inputCopies(const Op& op, int nodeInput) {
    return std::max(0, op.split_input(nodeInput));
}

int nodeInputCount(const Op& op, const HostNode::Impl& impl) {
    return std::max(int(impl.inputs.size()), op.minimum_inputs());
}

bool reaches(const HostNode* from, const HostNode* to,
             const std::map<const HostNode*, const HostNode::Impl*>& impls) {
    if (from == to)
        return true;
    const auto found = impls.find(from);
    if (found == impls.end())
        return false;
    for (const HostNode* input : found->second->inputs)
        if (input && reaches(input, to, impls))
            return true;
    return false;
}

}  // namespace

Script::Script() = default;

Script::~Script() {
    // Downstream ops may hold pointers to upstream ones: close everything before freeing any.
    for (auto& node : nodes_)
        for (auto& op : node->impl_->ops)
            op->close();
    nodes_.clear();
}

HostNode& Script::createNode(const std::string& className, const std::string& name) {
    const Op::Description* description = nullptr;
    for (int i = 0; const Op::Description* d = Op::Description::find(i); ++i)
        if (d->name && className == d->name) {
            description = d;
            break;
        }
    if (!description)
        throw Error("unknown node class " + className);

    std::string nodeName = name;
    for (int n = 1; nodeName.empty(); ++n) {
        const std::string candidate = className + std::to_string(n);
        const bool taken = std::any_of(nodes_.begin(), nodes_.end(),
                                       [&](const auto& node) { return node->name() == candidate; });
        if (!taken)
            nodeName = candidate;
    }
    std::unique_ptr<HostNode> node(new HostNode(*this, className, nodeName));
    node->impl_->build = [description](Node* owner) { return description->constructor(owner); };
    Op* first = addOp(*node, *node->impl_);
    node->impl_->current = first;
    MakeKnobsClosure make(*node->impl_);
    first->knobs(make);
    nodes_.push_back(std::move(node));
    return *nodes_.back();
}

HostNode& Script::createSource(std::shared_ptr<Clip> clip, const std::string& name) {
    if (!clip)
        throw Error("source " + name + ": no clip");
    std::unique_ptr<HostNode> node(new HostNode(*this, "ClipReader", name));
    node->impl_->build = [clip](Node* owner) { return new ClipReader(owner, clip); };
    Op* first = addOp(*node, *node->impl_);
    node->impl_->current = first;
    MakeKnobsClosure make(*node->impl_);
    first->knobs(make);
    nodes_.push_back(std::move(node));
    return *nodes_.back();
}

void Script::connect(HostNode& node, int input, HostNode& upstream) {
    HostNode::Impl& impl = *node.impl_;
    if (input < 0 || input >= node.op()->maximum_inputs())
        throw Error("node " + node.name() + " has no input " + std::to_string(input));
    std::map<const HostNode*, const HostNode::Impl*> impls;
    for (const auto& n : nodes_)
        impls[n.get()] = n->impl_.get();
    if (reaches(&upstream, &node, impls))
        throw Error("connecting " + upstream.name() + " to " + node.name() + " makes a loop");
    if (impl.inputs.size() <= size_t(input))
        impl.inputs.resize(size_t(input) + 1, nullptr);
    impl.inputs[size_t(input)] = &upstream;
}

Op* Script::prepare(HostNode& node, const OutputContext& context, unsigned generation,
                    std::vector<Prepared>& prepared, bool storeValues) {
    HostNode::Impl& impl = *node.impl_;
    // An op already set up at this context in this evaluation serves every copy that wants it.
    for (size_t i = 0; i < impl.ops.size(); ++i)
        if (impl.claimed[i] == generation && impl.ops[i]->outputContext() == context)
            return impl.ops[i].get();
    const bool firstVisit = std::none_of(prepared.begin(), prepared.end(),
                                         [&](const Prepared& p) { return p.node == &node; });
    if (firstVisit)
        node.clearErrors();

    // Reuse an op that was at this context before, else any op this evaluation
    // has not claimed, else make one: a node has as many ops as contexts it is
    // needed at simultaneously, and keeps them (and what they loaded) across frames.
    size_t pick = impl.ops.size();
    for (size_t i = 0; i < impl.ops.size() && pick == impl.ops.size(); ++i)
        if (impl.claimed[i] != generation && impl.ops[i]->outputContext() == context)
            pick = i;
    for (size_t i = 0; i < impl.ops.size() && pick == impl.ops.size(); ++i)
        if (impl.claimed[i] != generation)
            pick = i;
    if (pick == impl.ops.size())
        addOp(node, impl);
    impl.claimed[pick] = generation;
    Op& op = *impl.ops[pick];

    op.setOutputContext(context);
    if (storeValues)
        storeKnobs(impl, op);

    const int nodeInputs = nodeInputCount(op, impl);
    int total = 0;
    for (int i = 0; i < nodeInputs; ++i)
        total += inputCopies(op, i);
    op.inputs(total);
    int index = 0;
    for (int i = 0; i < nodeInputs; ++i) {
        HostNode* upstream = size_t(i) < impl.inputs.size() ? impl.inputs[size_t(i)] : nullptr;
        const int copies = inputCopies(op, i);
        for (int offset = 0; offset < copies; ++offset, ++index) {
            OutputContext scratch = op.outputContext();
            const OutputContext inputContext = op.inputContext(i, offset, scratch);
            Op* source =
                upstream ? prepare(*upstream, inputContext, generation, prepared) : nullptr;
            op.set_input(index, source, i, offset);
        }
    }
    invalidateQuietly(impl, op);
    prepared.push_back({&node, &op});
    return &op;
}

bool Script::inputsSettled(const std::vector<Prepared>& prepared) {
    for (const Prepared& p : prepared) {
        const HostNode::Impl& impl = *p.node->impl_;
        const int nodeInputs = nodeInputCount(*p.op, impl);
        int index = 0;
        for (int i = 0; i < nodeInputs; ++i)
            for (int offset = 0; offset < inputCopies(*p.op, i); ++offset, ++index) {
                const Op* source = p.op->input(index);
                if (!source)
                    continue;
                OutputContext scratch = p.op->outputContext();
                if (!(p.op->inputContext(i, offset, scratch) == source->outputContext()))
                    return false;
            }
    }
    return true;
}

Op* Script::evaluate(HostNode& node, double frame, std::vector<Prepared>& prepared) {
    OutputContext context;
    context.setFrame(frame);
    for (HostKnob* knob : node.knobs())
        knob->setCurrentFrame(frame);
    // An op's inputContext may depend on what its validation works out (an
    // output range, say): build, validate, and build again until they agree.
    constexpr int kMaxRounds = 4;
    Op* root = nullptr;
    for (int round = 0; round < kMaxRounds; ++round) {
        prepared.clear();
        root = prepare(node, context, ++generation_, prepared);
        node.impl_->current = root;
        root->validate(true);
        if (inputsSettled(prepared))
            break;
    }
    return root;
}

void Script::preparePanel(HostNode& node) {
    HostNode::Impl& impl = *node.impl_;
    if (impl.ops.empty() || impl.inputs.empty())
        return;
    // prepare() tries the ops in order, so the first op is the one set up at
    // its context; its fields are current already (edits write into them).
    std::vector<Prepared> prepared;
    const OutputContext context = impl.ops.front()->outputContext();
    prepare(node, context, ++generation_, prepared, false);
}

bool Script::validate(HostNode& node, double frame) {
    std::vector<Prepared> prepared;
    Op* root = evaluate(node, frame, prepared);
    if (root->hasError())
        return false;
    // An input in its error state leaves nothing sound to render either.
    for (const Prepared& p : prepared)
        if (p.op->valid() && p.op->hasError())
            return false;
    return true;
}

namespace {

// The whole layers that hold channels, in ascending order of their first channel.
std::set<DD::Image::ChannelSet> layersOf(const DD::Image::ChannelSet& channels) {
    std::set<DD::Image::ChannelSet> layers;
    const int count = DD::Image::getChannelCount();
    foreach (z, channels) {
        DD::Image::ChannelSet layer;
        const std::string name = DD::Image::getLayerName(z);
        for (int c = 1; c <= count; ++c)
            if (name == DD::Image::getLayerName(DD::Image::Channel(c)))
                layer += DD::Image::Channel(c);
        layers.insert(layer);
    }
    return layers;
}

DD::Image::Hash hashOp(Op& op, double frame, std::map<Op*, DD::Image::Hash>& done) {
    const auto found = done.find(&op);
    if (found != done.end())
        return found->second;
    DD::Image::Hash hash;
    hash.append(op.Class());
    for (int i = 0; i < op.inputs(); ++i) {
        Op* source = op.input(i);
        hash.append(source ? hashOp(*source, source->outputContext().frame(), done).value()
                           : DD::Image::U64(0));
    }
    if (auto* node = dynamic_cast<HostNode*>(op.node()))
        for (const HostKnob* knob : node->knobs()) {
            if (!knob->hasValue())
                continue;
            hash.append(knob->name());
            if (knob->ClassID() == DD::Image::CHANNEL_MASK_KNOB)
                knob->channelSet().append(hash);
            else
                hash.append(knob->get_value_at(frame));
        }
    op.append(hash);
    done[&op] = hash;
    return hash;
}

}  // namespace

DD::Image::Hash Script::hash(HostNode& node, double frame) {
    std::vector<Prepared> prepared;
    Op* root = evaluate(node, frame, prepared);
    std::map<Op*, DD::Image::Hash> done;
    return hashOp(*root, frame, done);
}

std::vector<DD::Image::ImagePlane> Script::render(HostNode& node, double frame,
                                                  const DD::Image::ChannelSet& channels) {
    std::vector<DD::Image::ImagePlane> planes;
    if (!validate(node, frame))
        return planes;
    Op* op = node.op();
    auto* iop = dynamic_cast<Iop*>(op);
    if (!iop)
        throw Error("node " + node.name() + " does not make images");
    const DD::Image::ChannelSet wanted = channels.intersection(iop->info().channels());
    const DD::Image::Box box = iop->info().box();
    auto* planar = dynamic_cast<DD::Image::PlanarIop*>(iop);
    iop->request(box, wanted, 1);
    op->open();
    const std::set<DD::Image::ChannelSet> layers =
        planar ? planar->getAllPlanes(wanted) : layersOf(wanted);
    for (const DD::Image::ChannelSet& layer : layers) {
        planes.emplace_back(box, true, layer, int(layer.size()));
        DD::Image::ImagePlane& plane = planes.back();
        plane.makeWritable();
        if (planar)
            planar->renderStripe(plane);
        else
            iop->fetchPlane(plane);
        if (op->hasError() || op->aborted())
            break;
    }
    return planes;
}

void Script::close(HostNode& node) {
    for (auto& op : node.impl_->ops)
        op->close();
}

}  // namespace tweenora::host
