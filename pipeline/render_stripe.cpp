// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
void Tweenora::renderStripe(DD::Image::ImagePlane&) {}
void Tweenora::renderInterpolated(DD::Image::ImagePlane&, const StripeArea&, int64_t) {}
}  // namespace tweenora
