// SPDX-License-Identifier: Apache-2.0
// Op and Iop: an op written the way sample ops are (every virtual marked
// override, so a wrong signature fails the build), registration, the knob
// declarations it makes, and what Op forwards to its node.
#include <DDImage/Op.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Iop.h>
#include <DDImage/Knobs.h>
#include <DDImage/PlanarIop.h>
#include <ddimage_host/Node.h>

namespace {

using namespace DD::Image;

const char* const kItems[] = {"low", "high", nullptr};

class SampleOp : public PlanarIop {
public:
    explicit SampleOp(Node* node) : PlanarIop(node) { inputs(2); }

    const char* Class() const override { return d.name; }
    const char* node_help() const override { return "A sample."; }
    int minimum_inputs() const override { return 2; }
    int maximum_inputs() const override { return 2; }
    int split_input(int n) const override { return n == 0 ? 2 : 3; }
    const OutputContext& inputContext(int n, int offset, OutputContext& oc) const override {
        oc = outputContext();
        oc.setFrame(outputContext().frame() + n * 10 + offset);
        return oc;
    }

    void knobs(Knob_Callback f) override {
        Int_knob(f, &count, "count", "count");
        Tooltip(f, "how many");
        SetFlags(f, Knob::STARTLINE | Knob::HIDDEN);
        Float_knob(f, &amount, "amount");
        ClearFlags(f, Knob::STARTLINE);
        Float_knob(f, &precise, "precise");
        Double_knob(f, &precise, "precise2");
        Bool_knob(f, &on, "on", "on");
        Enumeration_knob(f, &choice, kItems, "choice", "choice");
        ChannelSet_knob(f, &channels, "channels");
        Input_ChannelSet_knob(f, &channels, 1, "in_channels");
        Tab_knob(f, "Tab");
        BeginClosedGroup(f, "group", "Group");
        Text_knob(f, "plain");
        Text_knob(f, "label", "text");
        Named_Text_knob(f, "named", nullptr, "named text");
        Divider(f);
        Divider(f, "caption");
        PyScript_knob(f, "print(1)", "run", " run ");
        EndGroup(f);
    }
    int knob_changed(Knob* k) override {
        if (k == &Knob::showPanel)
            return 1;
        return PlanarIop::knob_changed(k);
    }
    void getRequests(const Box& box, const ChannelSet& wanted, int n,
                     RequestOutput& reqData) const override {
        reqData.request(input(0), box, wanted, n);
    }
    void append(Hash& hash) override { hash.append(outputContext().frame()); }
    void renderStripe(ImagePlane& plane) override { plane.makeWritable(); }
    PackedPreference packedPreference() const override { return ePackedPreferencePacked; }

    int validations = 0, opens = 0, closes = 0;
    bool failValidation = false;
    int count = 3;
    float amount = 0.5f;
    double precise = 1.0;
    bool on = true;
    int choice = 1;
    ChannelSet channels = Mask_RGB;
    static const Iop::Description d;

protected:
    void _validate(bool for_real) override {
        ++validations;
        if (failValidation)
            error("cannot use %d %s", count, "inputs");
        PlanarIop::_validate(for_real);
    }
    void _open() override {
        ++opens;
        PlanarIop::_open();
    }
    void _close() override {
        ++closes;
        Iop::_close();
    }
};

Iop* build(Node* node) {
    return new SampleOp(node);
}
Op* buildOp(Node* node) {
    return new SampleOp(node);
}
const Iop::Description SampleOp::d("SampleOp", "Filter/SampleOp", build);
const Iop::Description withoutMenu("SampleOpNoMenu", 0, build);
const Op::Description opForm("SampleOpPlain", buildOp);

struct Declaration {
    int type;
    StoreType store;
    bool hasData;
    std::string name;
    const void* extra;
    int inputNumber;  //!< a channel set's input, read while the declaration lasts
};

// Records every declaration; on the make pass it also makes plain knobs.
class RecordingClosure : public Knob_Closure {
public:
    RecordingClosure(bool make, std::vector<Knob*>* knobs) : Knob_Closure(make), knobs_(knobs) {}
    Knob* operator()(int type, StoreType store, void* data, const char* name, const char* label,
                     const void* extra) override {
        const int inputNumber =
            type == CHANNEL_MASK_KNOB && extra ? *static_cast<const int*>(extra) : -1;
        declarations.push_back(
            {type, store, data != nullptr, name ? name : "", extra, inputNumber});
        Knob* knob = nullptr;
        if (makeKnobs()) {
            knobs_->push_back(new Knob(this, name, label));
            knob = knobs_->back();
        } else {
            knob = (*knobs_)[size_t(knobCount_)];
        }
        lastKnob_ = knob;
        ++knobCount_;
        return knob;
    }
    std::vector<Declaration> declarations;

private:
    std::vector<Knob*>* knobs_;
};

class RecordingNode : public Node {
public:
    std::string name() const override { return "Sample1"; }
    Knob* findKnob(const Op*, const char* knobName) override {
        asked.push_back(knobName);
        return knobName == std::string("showPanel") ? &Knob::showPanel : nullptr;
    }
    void reportError(Op*, const std::string& message) override { errors.push_back(message); }
    void reportWarning(Op*, const std::string& message) override { warnings.push_back(message); }
    void progressFraction(Op*, double fraction, int) override { fractions.push_back(fraction); }
    bool aborted(const Op*) const override { return stop; }
    void invalidated(Op*) override { ++invalidations; }

    std::vector<std::string> asked, errors, warnings;
    std::vector<double> fractions;
    bool stop = false;
    int invalidations = 0;
};

TEST(OpDescription, EveryRegistrationFormIsFoundAndBuilds) {
    std::vector<std::string> names;
    for (int i = 0; const Op::Description* record = Op::Description::find(i); ++i)
        names.push_back(record->name);
    for (const char* name : {"SampleOp", "SampleOpNoMenu", "SampleOpPlain"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end());
    }
    EXPECT_STREQ(SampleOp::d.menu, "Filter/SampleOp");
    Op* op = opForm.constructor(nullptr);
    ASSERT_NE(dynamic_cast<SampleOp*>(op), nullptr);
    EXPECT_STREQ(op->Class(), "SampleOp");
    delete op;
}

TEST(OpKnobs, DeclarationsCarryTypeStoreAndExtra) {
    SampleOp op(nullptr);
    std::vector<Knob*> knobs;
    RecordingClosure make(true, &knobs);
    op.knobs(make);
    const struct {
        int type;
        StoreType store;
        bool hasData;
        const char* name;
    } expected[] = {
        {INT_KNOB, IntPtr, true, "count"},
        {FLOAT_KNOB, FloatPtr, true, "amount"},
        {FLOAT_KNOB, DoublePtr, true, "precise"},
        {DOUBLE_KNOB, DoublePtr, true, "precise2"},
        {BOOL_KNOB, BoolPtr, true, "on"},
        {ENUMERATION_KNOB, IntPtr, true, "choice"},
        {CHANNEL_MASK_KNOB, ChannelSetPtr, true, "channels"},
        {CHANNEL_MASK_KNOB, ChannelSetPtr, true, "in_channels"},
        {TAB_KNOB, Custom, false, ""},
        {TAB_KNOB, Custom, false, "group"},
        {TEXT_KNOB, Custom, false, ""},
        {TEXT_KNOB, Custom, false, ""},
        {TEXT_KNOB, Custom, false, "named"},
        {TEXT_KNOB, Custom, false, ""},
        {TEXT_KNOB, Custom, false, ""},
        {PYSCRIPT_KNOB, Custom, false, "run"},
        {TAB_KNOB, Custom, false, ""},
    };
    ASSERT_EQ(make.declarations.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(make.declarations[i].type, expected[i].type);
        EXPECT_EQ(make.declarations[i].store, expected[i].store);
        EXPECT_EQ(make.declarations[i].hasData, expected[i].hasData);
        EXPECT_EQ(make.declarations[i].name, expected[i].name);
    }
    auto extraWord = [&](size_t i) {
        return reinterpret_cast<intptr_t>(make.declarations[i].extra);
    };
    EXPECT_EQ(extraWord(8), 0);    // tab
    EXPECT_EQ(extraWord(9), 2);    // closed group
    EXPECT_EQ(extraWord(16), -1);  // end of group
    EXPECT_EQ(make.declarations[5].extra, static_cast<const void*>(kItems));
    EXPECT_STREQ(static_cast<const char*>(make.declarations[11].extra), "text");
    EXPECT_EQ(make.declarations[13].extra, nullptr);  // a divider has no text
    EXPECT_STREQ(static_cast<const char*>(make.declarations[15].extra), "print(1)");
    EXPECT_EQ(make.declarations[6].inputNumber, 0);
    EXPECT_EQ(make.declarations[7].inputNumber, 1);

    EXPECT_EQ(knobs[0]->tooltip(), "how many");
    EXPECT_TRUE(knobs[0]->all_of(Knob::STARTLINE | Knob::HIDDEN));
    EXPECT_FALSE(knobs[0]->isVisible());

    // Store passes leave what the decorators did, and later changes, alone.
    knobs[0]->show();
    knobs[1]->set_flag(Knob::STARTLINE);
    RecordingClosure store(false, &knobs);
    op.knobs(store);
    EXPECT_TRUE(knobs[0]->isVisible());
    EXPECT_TRUE(knobs[1]->any_of(Knob::STARTLINE));
    for (Knob* knob : knobs)
        delete knob;
}

TEST(OpState, ErrorsAreFormattedRecordedAndClearedByValidation) {
    RecordingNode node;
    SampleOp op(&node);
    op.failValidation = true;
    EXPECT_FALSE(op.tryValidate(true));
    EXPECT_TRUE(op.hasError());
    EXPECT_EQ(op.errorMsg(), "cannot use 3 inputs");
    EXPECT_EQ(node.errors, (std::vector<std::string>{"cannot use 3 inputs"}));
    // Valid ops do not validate again; an invalidated one starts without its error.
    EXPECT_FALSE(op.tryValidate(true));
    EXPECT_EQ(op.validations, 1);
    EXPECT_TRUE(op.invalidate());
    EXPECT_FALSE(op.invalidate());
    EXPECT_EQ(node.invalidations, 2);
    op.failValidation = false;
    EXPECT_TRUE(op.tryValidate(true));
    EXPECT_FALSE(op.hasError());
    EXPECT_EQ(op.errorMsg(), "");
    op.warning("careful: %d%%", 7);
    EXPECT_EQ(node.warnings, (std::vector<std::string>{"careful: 7%"}));
    EXPECT_FALSE(op.hasError());
}

TEST(OpState, OpensOnceUntilClosedOrValidatedAgain) {
    SampleOp op(nullptr);
    op.open();
    op.open();
    EXPECT_EQ(op.validations, 1);  // opening validates first
    EXPECT_EQ(op.opens, 1);
    op.invalidate();
    op.validate(true);
    op.open();
    EXPECT_EQ(op.opens, 2);
    op.close();
    op.close();
    EXPECT_EQ(op.closes, 1);
    EXPECT_FALSE(op.opened());
}

TEST(OpState, ForwardsToTheNode) {
    RecordingNode node;
    SampleOp op(&node);
    EXPECT_EQ(op.node_name(), "Sample1");
    EXPECT_EQ(op.knob("showPanel"), &Knob::showPanel);
    EXPECT_EQ(op.knob("count"), nullptr);
    EXPECT_EQ(node.asked, (std::vector<std::string>{"showPanel", "count"}));
    op.progressFraction(1, 4);
    op.progressFraction(0.75);
    op.progressFraction(3, 0);
    EXPECT_EQ(node.fractions, (std::vector<double>{0.25, 0.75, 0.0}));
    EXPECT_FALSE(op.aborted());
    node.stop = true;
    EXPECT_TRUE(op.aborted());

    SampleOp orphan(nullptr);
    EXPECT_EQ(orphan.node_name(), "");
    EXPECT_EQ(orphan.knob("count"), nullptr);
    EXPECT_FALSE(orphan.aborted());
    orphan.error("no node to tell");
    EXPECT_TRUE(orphan.hasError());
}

TEST(IopInputs, SplitCopiesFollowTheCopiesOfEarlierInputs) {
    // Node input 0 has two copies (op inputs 0 and 1), node input 1 three (2 to 4).
    SampleOp op(nullptr);
    std::vector<std::unique_ptr<SampleOp>> sources;
    op.inputs(5);
    for (int i = 0; i < 5; ++i) {
        sources.push_back(std::make_unique<SampleOp>(nullptr));
        op.set_input(i, sources.back().get(), i < 2 ? 0 : 1, i < 2 ? i : i - 2);
    }
    EXPECT_EQ(op.input(0, 1), sources[1].get());
    EXPECT_EQ(op.input(1, 0), sources[2].get());
    EXPECT_EQ(op.input(1, 2), sources[4].get());
    EXPECT_EQ(&op.input1(), sources[1].get());
    EXPECT_EQ(op.input(5), nullptr);
    EXPECT_EQ(op.input(-1), nullptr);
}

}  // namespace
