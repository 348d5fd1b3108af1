// SPDX-License-Identifier: Apache-2.0
// Script: the headless host's node graph. It creates nodes from registered
// classes and drives their ops as the host application does: knobs, stored
// values, split inputs at their contexts, validate, request, open, render, close.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <DDImage/ChannelSet.h>
#include <DDImage/Hash.h>
#include <DDImage/ImagePlane.h>
#include <DDImage/Op.h>
#include <DDImage/OutputContext.h>

#include "host/HostNode.h"

namespace tweenora::host {

class Clip;

class Script {
public:
    Script();
    ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    //! A node of a registered class (Op::Description). Runs its knobs() to build
    //! the panel. Throws tweenora::Error naming the class when it is unknown.
    HostNode& createNode(const std::string& className, const std::string& name = "");
    //! A source node reading clip (its frame range is the clip's).
    HostNode& createSource(std::shared_ptr<Clip> clip, const std::string& name = "Read1");
    //! Throws tweenora::Error for an input number the node's class does not
    //! have or a connection that would make a loop.
    void connect(HostNode& node, int input, HostNode& upstream);

    //! Evaluates node at frame: sets its context, stores knob values (animated
    //! ones at frame), builds its split inputs at the contexts inputContext
    //! gives, and validates for real. The node and its upstream nodes start
    //! without errors. Returns false when validation put the node, or an input
    //! op it validated, in its error state. A node keeps one op per context it
    //! is needed at simultaneously and reuses them from frame to frame; an op
    //! whose validation changes its inputs' contexts is built again.
    bool validate(HostNode& node, double frame);
    //! The node's hash at frame: inputs' hashes, knob values and append().
    DD::Image::Hash hash(HostNode& node, double frame);
    //! Validates, requests (getRequests for planar ops), opens, and calls
    //! renderStripe once per layer of channels (those the node has) with a
    //! packed, zero-filled plane over the node's box. Returns the planes in
    //! layer order; none when validation fails. A render error is recorded on
    //! the node and ends the render (the plane is returned as it was left).
    std::vector<DD::Image::ImagePlane> render(HostNode& node, double frame,
                                              const DD::Image::ChannelSet& channels);
    //! Closes every open op of node.
    void close(HostNode& node);

    const std::vector<std::unique_ptr<HostNode>>& nodes() const { return nodes_; }

private:
    friend class HostNode;
    struct Prepared;

    //! Prepares node's op tree at frame and validates it until the inputs'
    //! contexts agree with what the validated ops' inputContext gives.
    DD::Image::Op* evaluate(HostNode& node, double frame, std::vector<Prepared>& prepared);
    //! One op of node at context: knobs stored (unless storeValues is false),
    //! inputs built at their contexts.
    DD::Image::Op* prepare(HostNode& node, const DD::Image::OutputContext& context,
                           unsigned generation, std::vector<Prepared>& prepared,
                           bool storeValues = true);
    //! The ops' inputs agree with the contexts their inputContext gives now.
    static bool inputsSettled(const std::vector<Prepared>& prepared);
    //! Builds the first op's inputs so that knob_changed can look at them.
    void preparePanel(HostNode& node);

    std::vector<std::unique_ptr<HostNode>> nodes_;
    unsigned generation_ = 0;
};

}  // namespace tweenora::host
