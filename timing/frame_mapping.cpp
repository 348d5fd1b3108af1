// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
FrameInfo Tweenora::calculateFrameInfo(float) const { return {}; }
int Tweenora::split_input(int n) const { return n == 0 ? 2 : 1; }
const DD::Image::OutputContext& Tweenora::inputContext(int, int, DD::Image::OutputContext& oc) const { oc = outputContext(); return oc; }
void Tweenora::getRequests(const DD::Image::Box&, const DD::Image::ChannelSet&, int, DD::Image::RequestOutput&) const {}
void Tweenora::append(DD::Image::Hash& hash) { Op::append(hash); }
}  // namespace tweenora
