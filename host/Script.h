// SPDX-License-Identifier: Apache-2.0
// Script: the headless host's node graph. It creates nodes from registered
// classes and drives their ops as the host application does: knobs, stored
// values, split inputs at their contexts, validate, request, open, render, close.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <DDImage/ChannelSet.h>
#include <DDImage/Hash.h>
#include <DDImage/ImagePlane.h>
#include <DDImage/Op.h>
#include <DDImage/OutputContext.h>

#include <ddimage_host/Node.h>

#include "host/HostKnob.h"

namespace tweenora::host {

class Clip;
class Script;

//! A node of the script. It owns its ops (one per output context it is
//! evaluated at) and its knobs, and records errors and progress.
class HostNode : public ::Node {
public:
    ~HostNode() override;

    std::string name() const override { return name_; }
    const std::string& className() const { return className_; }

    //! The node's op at the frame it was last evaluated at (before that, the
    //! first op, which made the knobs).
    DD::Image::Op* op();
    template <class T>
    T* opAs() {
        return dynamic_cast<T*>(op());
    }

    //! Knobs in declaration order.
    const std::vector<HostKnob*>& knobs() const;
    HostKnob* knob(const std::string& name) const;
    //! Sets a knob from text, stores it into the node's ops and calls
    //! knob_changed, as the host does after an edit. Throws tweenora::Error for
    //! an unknown knob or a value that does not fit.
    void setKnob(const std::string& name, const std::string& text);
    //! Keys an animatable knob: value at frame; then knob_changed.
    void setKey(const std::string& name, double frame, double value);
    //! Calls knob_changed with the panel-open marker.
    void openPanel();

    bool hasError() const { return !errors_.empty(); }
    //! The last error message put on the node ("" when none).
    std::string errorMessage() const;
    const std::vector<std::string>& errors() const { return errors_; }
    void clearErrors();
    const std::vector<std::string>& warnings() const { return warnings_; }
    const std::vector<std::string>& progressMessages() const { return progressMessages_; }
    const std::vector<double>& progressFractions() const { return progressFractions_; }
    int progressDismissals() const { return progressDismissals_; }
    int invalidations() const { return invalidations_; }
    //! Called with each progress message the node's ops report, as they report
    //! it (on the rendering thread); an empty function stops the calls.
    void setProgressListener(std::function<void(const std::string&)> listener);
    //! Makes aborted() answer true for this node's ops.
    void setAborted(bool aborted) { aborted_ = aborted; }

    // ::Node
    DD::Image::Knob* findKnob(const DD::Image::Op* op, const char* name) override;
    void reportError(DD::Image::Op* op, const std::string& message) override;
    void reportWarning(DD::Image::Op* op, const std::string& message) override;
    void progressMessage(DD::Image::Op* op, const std::string& message) override;
    void progressFraction(DD::Image::Op* op, double fraction, int flags) override;
    void progressDismiss(DD::Image::Op* op) override;
    bool aborted(const DD::Image::Op* /*op*/) const override { return aborted_; }
    bool cancelled(const DD::Image::Op* /*op*/) const override { return false; }
    //! Counts the ops' own invalidate() calls (not the host's re-validation).
    void invalidated(DD::Image::Op* op) override;

    //! The host's own state of the node (defined in the host's sources).
    struct Impl;

private:
    friend class Script;
    HostNode(Script& script, std::string className, std::string name);
    //! After an edit of knob: store it into every op, then knob_changed.
    void afterEdit(HostKnob& knob);

    std::unique_ptr<Impl> impl_;
    std::string className_;
    std::string name_;
    std::vector<std::string> errors_;
    std::vector<std::string> warnings_;
    std::vector<std::string> progressMessages_;
    std::vector<double> progressFractions_;
    int progressDismissals_ = 0;
    int invalidations_ = 0;
    bool aborted_ = false;
    std::function<void(const std::string&)> progressListener_;
};

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
