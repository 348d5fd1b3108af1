// SPDX-License-Identifier: Apache-2.0
// A plug-in for the loader tests: loading it announces the class "LoaderProbe".
#include <DDImage/Iop.h>
#include <DDImage/PlanarIop.h>

namespace {

class LoaderProbe : public DD::Image::PlanarIop {
public:
    explicit LoaderProbe(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "LoaderProbe"; }
    const char* node_help() const override { return "test"; }
    void renderStripe(DD::Image::ImagePlane& plane) override { plane.makeWritable(); }
};

DD::Image::Iop* build(Node* node) {
    return new LoaderProbe(node);
}
const DD::Image::Iop::Description description("LoaderProbe", nullptr, build);

}  // namespace
