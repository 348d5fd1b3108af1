// SPDX-License-Identifier: Apache-2.0
// The host side of the stand-in SDK: the node object that owns an op. Plug-ins
// only ever see Node*; the headless host derives from this class, and the
// stand-in's Op forwards knob look-ups, errors, progress and aborts to it.
#pragma once

#include <string>

namespace DD {
namespace Image {
class Knob;
class Op;
}  // namespace Image
}  // namespace DD

class Node {
public:
    virtual ~Node() = default;

    //! The node's name, as Op::node_name() reports it.
    virtual std::string name() const = 0;
    //! The node's knob called name (for op), or null.
    virtual DD::Image::Knob* findKnob(const DD::Image::Op* op, const char* name) = 0;
    //! op put itself into its error state with message.
    virtual void reportError(DD::Image::Op* op, const std::string& message) = 0;
    virtual void reportWarning(DD::Image::Op* /*op*/, const std::string& /*message*/) {}
    virtual void progressMessage(DD::Image::Op* /*op*/, const std::string& /*message*/) {}
    virtual void progressFraction(DD::Image::Op* /*op*/, double /*fraction*/, int /*flags*/) {}
    virtual void progressDismiss(DD::Image::Op* /*op*/) {}
    //! True when the render op belongs to should stop.
    virtual bool aborted(const DD::Image::Op* /*op*/) const { return false; }
    virtual bool cancelled(const DD::Image::Op* /*op*/) const { return false; }
    virtual void abort(const DD::Image::Op* /*op*/) const {}
    //! op called invalidate().
    virtual void invalidated(DD::Image::Op* /*op*/) {}
};
