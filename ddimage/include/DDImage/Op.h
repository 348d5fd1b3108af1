// SPDX-License-Identifier: Apache-2.0
// Op: the base of every operator a node creates, and its registration record.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "DDImage/Hash.h"
#include "DDImage/OutputContext.h"

//! The host's node object; opaque to plug-ins.
class Node;

namespace DD {
namespace Image {

class Iop;
class Knob;
class Knob_Closure;
typedef Knob_Closure& Knob_Callback;
class License;

//! Base of the registration records the host looks classes up in.
class Description {
public:
    typedef Node* (*NodeBuilder)(void*);
    typedef std::vector<Description*> DescriptionList;
    const char* compiled = nullptr;
    const char* plugin = nullptr;
    License* license = nullptr;
};

class Op {
public:
    enum HandlesMode { eNoHandles, eHandlesUncooked, eHandlesCooked, eHandlesMax };
    enum PrevalidateResult { eFinished, eCancelled, eAbandoned };
    enum StatusFlags { StatusNone, StatusModal, StatusUseCallback };
    typedef std::pair<int, DD::Image::Op*> Output;

    //! Registration record: constructing one at library load announces a class.
    class Description : public DD::Image::Description {
    public:
        typedef Op* (*OpConstructor)(Node*);
        typedef Iop* (*IopConstructor)(Node*);

        Description(const char* n, OpConstructor c, License* l = nullptr);
        Description(const char* n, const char* menu, OpConstructor c);
        Description(const char* n, const char* menu, IopConstructor c);

        //! Makes an op of this class for the node.
        Op* constructor(Node* node) const;
        //! The i-th record announced in this process, or null past the last.
        static const Description* find(int i);

        const char* name;
        //! Menu path given at registration (may be null).
        const char* menu;

    private:
        OpConstructor opConstructor_ = nullptr;
        IopConstructor iopConstructor_ = nullptr;
    };

    //! Ops are allocated and freed through the host's allocator.
    static void* operator new(size_t size);
    static void operator delete(void* p);
    static void* operator new(size_t /*size*/, void* place) { return place; }
    static void operator delete(void*, void*) {}

    virtual ~Op();

    virtual const char* Class() const = 0;
    virtual const char* node_help() const = 0;
    virtual const char* displayName() const { return Class(); }
    //! The name of the node that owns this op.
    std::string node_name() const;
    Node* node() const { return node_; }

    // Knobs
    virtual void knobs(Knob_Callback f);
    virtual int knob_changed(Knob* k);
    //! The owning node's knob called name, or null. Main thread only.
    Knob* knob(const char* name) const;

    // Inputs and contexts
    Op* input(int n) const;
    Op* input0() const { return input(0); }
    Op* input1() const { return input(1); }
    int inputs() const { return int(inputs_.size()); }
    virtual void inputs(int n);
    virtual int minimum_inputs() const { return 1; }
    virtual int maximum_inputs() const { return 1; }
    virtual int split_input(int /*n*/) const { return 1; }
    virtual const OutputContext& inputContext(int n, int offset, OutputContext& oc) const;
    const OutputContext& outputContext() const { return outputContext_; }
    virtual void setOutputContext(const OutputContext& c);
    virtual void set_input(int i, Op* op, int input, int offset);

    // Hash
    virtual void append(Hash& hash);

    // Validate, open, close
    void validate(bool for_real = true);
    //! Validates and returns false when the op ended up in its error state.
    bool tryValidate(bool for_real = true);
    void force_validate(bool for_real = true);
    //! Marks the output out of date; returns true when it was valid before.
    bool invalidate();
    bool valid() const { return valid_; }
    bool real_valid() const { return valid_ && realValid_; }
    void open();
    void close();
    bool opened() const { return opened_; }

    // Abort, errors, progress
    bool aborted() const;
    bool cancelled() const;
    void abort() const;
    void error(const char* fmt, ...);
    void warning(const char* fmt, ...);
    void critical(const char* fmt, ...);
    bool hasError() const { return hasError_; }
    const std::string& errorMsg() const { return errorMessage_; }
    void progressFraction(double fraction, StatusFlags flags = StatusNone);
    void progressFraction(int done, int total, StatusFlags flags = StatusNone);
    void progressMessage(const char* fmt, ...);
    void progressModalMessage(const char* fmt, ...);
    void progressDismiss();

protected:
    Op(Node* node);

    virtual void _validate(bool for_real);
    virtual void _open() {}
    virtual void _close() {}
    virtual void _invalidate() {}

private:
    friend class Iop;

    //! error() and critical(): record the message and tell the node.
    void enterErrorState(const std::string& message);

    Node* node_;
    std::vector<Op*> inputs_;
    OutputContext outputContext_;
    bool valid_ = false;
    bool realValid_ = false;
    bool opened_ = false;
    bool reopen_ = false;
    unsigned validations_ = 0;  //!< real _validate runs, so Iop can tell stale requests
    bool hasError_ = false;
    std::string errorMessage_;
};

}  // namespace Image
}  // namespace DD
