// SPDX-License-Identifier: Apache-2.0
// HostNode: a node of the headless host's script, its ops, knobs and what they report.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <DDImage/Op.h>

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

}  // namespace tweenora::host
