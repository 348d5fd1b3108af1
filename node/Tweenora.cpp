// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
static DD::Image::Iop* build(Node* node) { return new Tweenora(node); }
const DD::Image::Op::Description Tweenora::description("Tweenora", "Lumaquarry/Tweenora", build);
Tweenora::Tweenora(Node* node) : PlanarIop(node) {}
Tweenora::~Tweenora() = default;
const char* Tweenora::Class() const { return "Tweenora"; }
const char* Tweenora::node_help() const { return ""; }
DD::Image::PlanarI::PackedPreference Tweenora::packedPreference() const { return ePackedPreferencePacked; }
void Tweenora::checkKernelSupport() {}
void Tweenora::_close() {}
}  // namespace tweenora
