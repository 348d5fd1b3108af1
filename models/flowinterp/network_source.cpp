// SPDX-License-Identifier: Apache-2.0
// TorchScript source of the built-in interpolation network, one raw string per method.
//
// Note [The built-in network]
// The network has no learned weights. FlowEstimator finds the optical flow
// from each frame to the other, coarse to fine over an image pyramid: a
// small exhaustive search (a cost volume) at the coarsest levels catches
// motion that smoothing would lose, TV-L1 (a robust colour data term and
// total-variation smoothing, which keeps motion edges) refines every level,
// a median filter removes outliers after every warp, and vectors that fail
// the forward-backward check are replaced by their consistent neighbours'.
// FrameSynthesiser splats both flows to time t, weighted by their
// consistency, so that the pixels that stay visible win over those being
// covered; it samples both frames bicubically along the projected flow and
// blends them, leaning on the one frame that sees what the other hides, and
// falls back to a plain blend where neither sample comes from a trustworthy
// match. Before sampling, each projected vector competes with its
// neighbours' by how well the frames agree along them (flow fusion), and
// where the samples still disagree the result is softened, as the place of
// what they show is uncertain. Frames are PU21-encoded (0 .. about 2.3,
// perceptually uniform), so differences weigh alike in dark and bright parts;
// the constants below are in those units.
#include "models/flowinterp/network_source.h"

namespace tweenora::models {

const std::vector<std::string>& imageOpsMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def warp(self, x: Tensor, flow: Tensor, mode: int) -> Tensor:
    # Samples x [B, C, H, W] at p + flow(p), flow [B, 2, H, W] in pixels
    # (x right, y down). mode 0 is bilinear, 2 bicubic; the edge repeats outside.
    h = x.size(2)
    w = x.size(3)
    xs = torch.arange(w, dtype=flow.dtype, device=flow.device).view([1, 1, w])
    ys = torch.arange(h, dtype=flow.dtype, device=flow.device).view([1, h, 1])
    gx = (flow[:, 0] + xs) * (2.0 / float(max(w - 1, 1))) - 1.0
    gy = (flow[:, 1] + ys) * (2.0 / float(max(h - 1, 1))) - 1.0
    return torch.grid_sampler(x, torch.stack([gx, gy], 3), mode, 1, True)
)TS",
        R"TS(
def gradients(self, x: Tensor) -> Tuple[Tensor, Tensor]:
    # Central differences, one-sided at the border.
    p = torch.replication_pad2d(x, [1, 1, 1, 1])
    gx = (p[:, :, 1:-1, 2:] - p[:, :, 1:-1, :-2]) * 0.5
    gy = (p[:, :, 2:, 1:-1] - p[:, :, :-2, 1:-1]) * 0.5
    return gx, gy
)TS",
        R"TS(
def box(self, x: Tensor, radius: int) -> Tensor:
    # Mean over a (2 radius + 1)^2 window; the border averages what lies inside.
    k = 2 * radius + 1
    return torch.avg_pool2d(x, [k, k], [1, 1], [radius, radius], False, False, None)
)TS",
        R"TS(
def median3(self, x: Tensor) -> Tensor:
    # Separable 3-tap median (rows, then columns) from min/max compares: removes
    # outliers and keeps steps, far cheaper than sorting unfolded windows.
    p = torch.replication_pad2d(x, [1, 1, 1, 1])
    a = p[:, :, :, :-2]
    b = p[:, :, :, 1:-1]
    c = p[:, :, :, 2:]
    r = torch.max(torch.min(a, b), torch.min(torch.max(a, b), c))
    a = r[:, :, :-2]
    b = r[:, :, 1:-1]
    c = r[:, :, 2:]
    return torch.max(torch.min(a, b), torch.min(torch.max(a, b), c))
)TS",
        R"TS(
def reducible(self, x: Tensor) -> bool:
    # Whether x, in Half or BFloat16, can take the reduced-precision paths on
    # its device: CUDA has their kernels in both types; the CPU lacks Half
    # pooling, clamping and exp in libtorch 1.13, so Half there, like frames
    # on any other device, is computed in float32 instead.
    if x.element_size() != 2 or not x.is_floating_point():
        return False
    if x.is_cuda:
        return True
    # Source compiled from C++ has no dtype constants: an empty tensor's type.
    half = torch.empty([0]).half().dtype
    return x.device.type == "cpu" and x.dtype != half
)TS",
        R"TS(
def prepare(self, x: Tensor) -> Tensor:
    # Float32 copy for estimation, finite and within a range where squared
    # differences cannot overflow.
    return torch.nan_to_num(x.float(), 0.0, 64.0, -64.0).clamp_(-64.0, 64.0)
)TS",
        R"TS(
def past_megapixel(self, x: Tensor) -> bool:
    # Frames past a megapixel hold less detail per pixel: several passes
    # take cheaper paths for them, which their quality allows.
    return x.size(2) * x.size(3) > 1000000
)TS",
        R"TS(
def downsample(self, x: Tensor) -> Tensor:
    # Halves both sides (rounding up) by averaging 2 x 2 blocks.
    return torch.avg_pool2d(x, [2, 2], [2, 2], [0, 0], True, True, None)
)TS",
        R"TS(
def resize_flow(self, flow: Tensor, h: int, w: int) -> Tensor:
    # Resamples a flow field to h x w and rescales its vectors to the new pixels.
    sx = float(w) / float(flow.size(3))
    sy = float(h) / float(flow.size(2))
    up = torch.upsample_bilinear2d(flow, [h, w], False, None)
    return torch.cat([up[:, 0:1] * sx, up[:, 1:2] * sy], 1)
)TS",
    };
    return methods;
}

const std::vector<std::string>& flowEstimatorMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def match_cost(self, a: Tensor, b: Tensor) -> Tensor:
    # Colour difference summed over channels and averaged over a 5 x 5 window.
    return self.ops.box(torch.abs(a - b).sum(1, keepdim=True), 2)
)TS",
        R"TS(
def search(self, img: Tensor, tgt: Tensor, flow: Tensor, radius: int, like: Tensor) -> Tensor:
    # Exhaustive search of the whole-pixel displacements up to radius (a cost
    # volume); a displacement replaces the current vector only where it
    # matches clearly better. With cast_half on and frames (like) in Half or
    # BFloat16 (see reducible), the costs are compared in that type: only
    # their order matters. Sampling and padding stay float32: Half cannot
    # address the pixels of a large frame, and neither has reduced-precision
    # kernels on every device.
    h = img.size(2)
    w = img.size(3)
    warped = self.ops.warp(tgt, flow, 0)
    padded = torch.replication_pad2d(tgt, [radius, radius, radius, radius])
    if self.cast_half and self.ops.reducible(like):
        img = img.to(like.dtype)
        warped = warped.to(like.dtype)
        padded = padded.to(like.dtype)
    current = self.match_cost(img, warped)
    costs: List[Tensor] = []
    for dy in range(2 * radius + 1):
        for dx in range(2 * radius + 1):
            costs.append(self.match_cost(img, padded[:, :, dy:dy + h, dx:dx + w]))
    best, index = torch.min(torch.cat(costs, 1), 1, keepdim=True)
    side = 2 * radius + 1
    dx = torch.remainder(index, side) - radius
    dy = torch.div(index, side, rounding_mode="floor") - radius
    found = torch.cat([dx, dy], 1).to(flow.dtype)
    return torch.where(best < current * 0.9, found, flow)
)TS",
        R"TS(
def refine(self, img: Tensor, tgt: Tensor, flow: Tensor, warps: int, iters: int, luma: bool, mode: int) -> Tensor:
    # TV-L1 (the primal-dual scheme of Zach, Pock and Bischof) from flow
    # [B, 2, H, W] on, img looking for tgt: warps times, tgt is warped (mode
    # as in warp) and the data term linearised, then iters steps alternate a
    # thresholding step towards each colour channel's brightness constancy
    # with a projection step of the total variation's dual (px, py). luma
    # matches the channels' mean instead of each channel.
    lam = 38.0    # data weight: 0.15 for values in 0 .. 255
    theta = 0.6   # coupling between the two steps
    tau = 0.25    # dual step, the stable maximum
    if luma:
        img = img.mean(1, keepdim=True)
        tgt = tgt.mean(1, keepdim=True)
    nc = img.size(1)
    limit = lam * theta / float(nc)
    step = tau / theta
    px = torch.zeros_like(flow)
    py = torch.zeros_like(flow)
    # Buffers the iterations write into: the new flow, and its forward
    # differences, whose last column and row stay zero.
    ub = torch.empty_like(flow)
    ux = torch.zeros_like(flow)
    uy = torch.zeros_like(flow)
    div = torch.empty_like(flow)
    norm = torch.empty_like(flow)
    rho = torch.empty_like(flow[:, 0:1])
    for i in range(warps):
        warped = self.ops.warp(tgt, flow, mode)
        wgx, wgy = self.ops.gradients(warped)
        f0 = flow[:, 0:1]
        f1 = flow[:, 1:2]
        gxs: List[Tensor] = []
        gys: List[Tensor] = []
        inverse: List[Tensor] = []
        residual: List[Tensor] = []
        for c in range(nc):
            gx = wgx[:, c:c + 1].contiguous()
            gy = wgy[:, c:c + 1].contiguous()
            gxs.append(gx)
            gys.append(gy)
            inverse.append(-1.0 / (torch.addcmul(gx * gx, gy, gy) + 1e-12))
            residual.append(warped[:, c:c + 1] - img[:, c:c + 1] - gx * f0 - gy * f1)
        # Every step works in place on the buffers: at the finest levels
        # the iterations are bound by memory traffic, not arithmetic.
        ub.copy_(flow)
        v0 = ub[:, 0:1]
        v1 = ub[:, 1:2]
        for k in range(iters):
            for c in range(nc):
                torch.addcmul(residual[c], gxs[c], v0, out=rho)
                rho.addcmul_(gys[c], v1).mul_(inverse[c]).clamp_(-limit, limit)
                v0.addcmul_(rho, gxs[c])
                v1.addcmul_(rho, gys[c])
            # Divergence of the dual field and forward differences of u, with
            # zero flux across the border.
            torch.add(px, py, out=div)
            div[:, :, :, 1:] -= px[:, :, :, :-1]
            div[:, :, 1:] -= py[:, :, :-1]
            ub.add_(div, alpha=theta)
            torch.sub(ub[:, :, :, 1:], ub[:, :, :, :-1], out=ux[:, :, :, :-1])
            torch.sub(ub[:, :, 1:], ub[:, :, :-1], out=uy[:, :, :-1])
            torch.mul(ux, ux, out=norm)
            norm.addcmul_(uy, uy).sqrt_().mul_(step).add_(1.0)
            px.add_(ux, alpha=step).div_(norm)
            py.add_(uy, alpha=step).div_(norm)
        flow = self.ops.median3(ub)
    return flow
)TS",
        R"TS(
def fill_inconsistent(self, flow: Tensor, finest: bool) -> Tensor:
    # Vectors of both flows [2, 2, H, W] that fail the forward-backward check
    # (by about a pixel) give way to the mean of their consistent
    # neighbours, taken over 7 x 7 blocks; at the finest level (finest)
    # those that move with the background weigh more. Past about 2.5 megapixels the
    # check runs at half the resolution, which spares memory.
    h = flow.size(2)
    w = flow.size(3)
    f = flow
    blocks = 7
    if h * w > 2500000:
        f = torch.avg_pool2d(flow, [2, 2], [2, 2], [0, 0], True, True, None) * 0.5
        blocks = 4
    err = f + self.ops.warp(f.flip([0]), f, 0)
    c = torch.exp(-(err * err).sum(1, keepdim=True))
    weight = c
    if finest:
        # A pixel the other frame hides lies behind something: it belongs to
        # the farther layer, whose motion is most often the frame's dominant
        # one (the camera's), the median of a sparse grid of vectors.
        # Neighbours within about a pixel of it count twenty times more, so
        # that hidden background does not take the occluder's motion. Not on
        # the coarser levels, where a small object's own vectors may all
        # still fail the check and would be lost.
        step = max(1, int((float(f.size(2) * f.size(3)) / 65536.0) ** 0.5))
        dominant = f[:, :, ::step, ::step].reshape([2, 2, -1]).median(2, keepdim=True)[0]
        off = f - dominant.unsqueeze(3)
        weight = c * (0.05 + torch.exp(-(off * off).sum(1, keepdim=True)))
    sums = torch.avg_pool2d(torch.cat([f * weight, weight], 1), [blocks, blocks], [blocks, blocks], [0, 0], True, True, None)
    sums = torch.upsample_bilinear2d(sums, [h, w], False, None)
    mean = sums[:, 0:2] / (sums[:, 2:3] + 1e-4)
    if h * w > 2500000:
        mean = mean * 2.0
        c = torch.upsample_bilinear2d(c, [h, w], False, None)
    return torch.lerp(mean, flow, c)
)TS",
        R"TS(
def estimate(self, pair: Tensor, steps: int, flow_magnitude: int, like: Tensor) -> Tensor:
    # Coarse to fine over a pyramid of both frames at once, pair [2, C, H, W]
    # (batch 0 looks for frame 1, batch 1 for frame 0). The pyramid halves
    # the frames until their shorter side is under about 40 pixels, so the
    # reach grows with the frame; flow_magnitude lets it go further down
    # and widens the coarsest search. Each level is smoothed before it is
    # halved, so that fine texture does not alias into false matches. steps
    # adds warps; like is an input frame, for its type.
    levels: List[Tensor] = [pair]
    smallest = 48 - 8 * flow_magnitude
    while len(levels) < 9 and min(levels[-1].size(2), levels[-1].size(3)) >= smallest:
        levels.append(self.ops.downsample(self.ops.box(levels[-1], 1)))
    n = len(levels)
    coarsest = levels[n - 1]
    flow = torch.zeros([2, 2, coarsest.size(2), coarsest.size(3)], dtype=pair.dtype, device=pair.device)
    for k in range(n):
        img = levels[n - 1 - k]
        if k > 0:
            flow = self.ops.resize_flow(flow, img.size(2), img.size(3))
        if k < n - 1 or img.size(2) * img.size(3) <= 2500000:
            tgt = img.flip([0])
            if k < 3:
                radius = 3
                if k == 0:
                    radius = 3 + 2 * (flow_magnitude - 1)
                flow = self.search(img, tgt, flow, radius, like)
            if k < n - 2:
                flow = self.refine(img, tgt, flow, 3 + steps, 10, False, 2)
            elif k < n - 1:
                # The finest level refines this flow again from the same
                # start, so fewer iterations per warp do here, and past a
                # megapixel bilinear warps, as this level is large itself.
                mode = 0 if self.ops.past_megapixel(pair) else 2
                flow = self.refine(img, tgt, flow, 3 + steps, 6, False, mode)
            else:
                # The finest level costs most: one warp fewer than the
                # coarser levels, and none of the search; past a
                # megapixel, whose pixels hold less detail each, two fewer.
                warps = steps + 1
                if self.ops.past_megapixel(img):
                    warps = max(steps, 1)
                flow = self.refine(img, tgt, flow, warps, 5, True, 0)
        else:
            # The same pass past about 2.5 megapixels, one direction at a
            # time, which halves the memory it needs.
            luma = img.mean(1, keepdim=True)
            flow = torch.cat([self.refine(luma[0:1], luma[1:2], flow[0:1], steps, 5, True, 0),
                              self.refine(luma[1:2], luma[0:1], flow[1:2], steps, 5, True, 0)], 0)
        flow = self.fill_inconsistent(flow, k == n - 1)
    return flow
)TS",
        R"TS(
def cut_score(self, pair: Tensor, flows: Tensor) -> Tensor:
    # Two measures, at up to a quarter of the resolution, that tell unrelated
    # frames from frames that move: how much of their difference survives
    # motion compensation (under 0.25 for footage that moves, over 0.5 for
    # unrelated frames) and how different they are as 4 x 4 thumbnails (under
    # 0.1 and over 0.3), both relative to the frames' own contrast. A change
    # of overall level (a fade) counts in neither.
    k = max(1, min(4, min(pair.size(2), pair.size(3)) // 32))
    a = torch.avg_pool2d(pair, [k, k], [k, k], [0, 0], True, True, None)
    f = torch.avg_pool2d(flows, [k, k], [k, k], [0, 0], True, True, None) * (1.0 / float(k))
    residual = self.ops.warp(a.flip([0]), f, 0) - a
    residual = residual - residual.mean([2, 3], keepdim=True)
    spread = torch.clamp((a - a.mean([2, 3], keepdim=True)).abs().mean(), 0.02)
    thumb = torch.adaptive_avg_pool2d(a, [4, 4])
    change = thumb[1] - thumb[0]
    change = change - change.mean([1, 2], keepdim=True)
    return torch.stack([residual.abs().mean(), change.abs().mean()]) / spread
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, steps: int, flow_magnitude: int, downscale: float) -> Tuple[Tensor, Tensor]:
    # img0, img1 [1, C, H, W]. Returns the flow [2, 2, h, w] in pixels of the
    # estimation resolution (the frames' times downscale), batch 0 from img0
    # to img1 and batch 1 back, float32; and the two measures of cut_score.
    h = img0.size(2)
    w = img0.size(3)
    pair = self.ops.prepare(torch.cat([img0, img1], 0))
    if downscale < 1.0:
        pair = torch.adaptive_avg_pool2d(pair, [max(8, int(float(h) * downscale + 0.5)), max(8, int(float(w) * downscale + 0.5))])
    flow = self.estimate(pair, steps, flow_magnitude, img0)
    # Vectors beyond twice the frame's size mean nothing; keep them finite.
    reach = 2.0 * float(max(pair.size(2), pair.size(3)))
    flow = torch.clamp(torch.nan_to_num(flow, 0.0, reach, -reach), -reach, reach)
    return flow, self.cut_score(pair, flow)
)TS",
    };
    return methods;
}

const std::vector<std::string>& frameSynthesiserMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def splat(self, px: Tensor, py: Tensor, values: List[Tensor], h: int, w: int) -> Tensor:
    # Bilinear forward splatting of the value channels (each [N]) to the
    # positions (px, py) [N]; returns the sums [C, h, w]. Points outside
    # (-1, w) x (-1, h) must carry zero values. The accumulator has a margin,
    # so no tap needs a bounds test: one flat scatter_add_ per tap and channel.
    wp = w + 3
    hp = h + 3
    px = torch.clamp(px, -1.0, float(w)) + 1.0
    py = torch.clamp(py, -1.0, float(h)) + 1.0
    x0 = torch.floor(px)
    y0 = torch.floor(py)
    fx = px - x0
    fy = py - y0
    index = y0.long() * wp + x0.long()
    acc = torch.zeros([len(values), hp * wp], dtype=px.dtype, device=px.device)
    for tap in range(4):
        wx = fx if tap % 2 == 1 else 1.0 - fx
        wy = fy if tap // 2 == 1 else 1.0 - fy
        weight = wx * wy
        for c in range(len(values)):
            acc[c].scatter_add_(0, index, values[c] * weight)
        # The next tap, in place: right, then down and left, then right.
        index += wp - 1 if tap == 1 else 1
    return acc.view([len(values), hp, wp])[:, 1:h + 1, 1:w + 1]
)TS",
        R"TS(
def fill_holes(self, acc: Tensor, weight_index: int) -> Tensor:
    # Push-pull: normalises weighted sums [1, C, H, W] by the weight channel
    # and fills pixels that no splat reached from ever coarser averages.
    levels: List[Tensor] = [acc]
    while min(levels[-1].size(2), levels[-1].size(3)) > 2:
        levels.append(self.ops.downsample(levels[-1]))
    n = len(levels)
    filled = levels[n - 1]
    filled = filled / torch.clamp(filled[:, weight_index:weight_index + 1], 1e-6)
    for k in range(1, n):
        lvl = levels[n - 1 - k]
        weight = lvl[:, weight_index:weight_index + 1]
        up = torch.upsample_bilinear2d(filled, [lvl.size(2), lvl.size(3)], False, None)
        filled = torch.lerp(up, lvl / torch.clamp(weight, 1e-6), torch.clamp(weight * 20.0, 0.0, 1.0))
    return filled
)TS",
        R"TS(
def reliability(self, pair: Tensor, flows: Tensor, ratio: float) -> Tuple[Tensor, Tensor]:
    # pair [2, C, h, w] and flows [2, 2, h, w] at ratio times the frames'
    # resolution. For every pixel of both [2, 1, h, w]: how well its vector
    # agrees with the other frame's vector back (1 when consistent, towards 0
    # where the pixel is hidden in the other frame or the flow is wrong), and
    # that times how well the colours match there.
    back = self.ops.warp(flows.flip([0]), flows, 0)
    err = flows + back
    mismatch = (err * err).sum(1, keepdim=True)
    # About half a pixel of the frames is allowed, more for long vectors.
    scale = ((flows * flows).sum(1, keepdim=True) + (back * back).sum(1, keepdim=True)) * 0.01 + 0.5 * ratio * ratio
    quality = torch.exp(-mismatch / scale) + 1e-3
    photo = (self.ops.warp(pair.flip([0]), flows, 0) - pair).abs().mean(1, keepdim=True)
    return quality, quality * torch.exp(photo * photo * -25.0)
)TS",
        R"TS(
def fuse(self, guide: Tensor, ft: Tensor, along: Tensor, r: int) -> Tensor:
    # Flow fusion: every vector of the flow at t [1, 2, h, w] competes with
    # those r pixels away on its row and column, which are the likelier
    # answers at a motion boundary that the projection put a little off.
    # Each candidate is scored by how well the two frames (guide [2, 1, h,
    # w], luminance) agree along it, over 5 x 5 pixels, and the vectors
    # are averaged with weights that favour the better score steeply.
    # along [2, 1, 1, 1] holds -t and 1 - t: the part of a vector that
    # leads from t to each frame.
    h = ft.size(2)
    w = ft.size(3)
    p = torch.replication_pad2d(ft, [r, r, r, r])
    candidates = [ft, p[:, :, r:r + h, 0:w], p[:, :, r:r + h, 2 * r:2 * r + w],
                  p[:, :, 0:h, r:r + w], p[:, :, 2 * r:2 * r + h, r:r + w]]
    costs: List[Tensor] = []
    for f in candidates:
        a = self.ops.warp(guide, f * along, 0)
        costs.append(self.ops.box((a[0:1] - a[1:2]).abs(), 2))
    weights = torch.softmax(torch.cat(costs, 1) * -100.0, 1)
    fused = torch.zeros_like(ft)
    for k, f in enumerate(candidates):
        fused = torch.addcmul(fused, weights[:, k:k + 1], f)
    return fused
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, flows: Tensor, t: float) -> Tensor:
    # img0, img1 [1, C, H, W]; flows [2, 2, h, w] float32 (0 -> 1, then
    # 1 -> 0) at the frames' resolution or below. Returns the frame at t
    # [1, C, H, W]. Positions, splats and samples are float32 (Half cannot
    # address the pixels of a large frame); with synth_fp32 off, frames in
    # Half or BFloat16 are blended in their own type (see reducible).
    h = img0.size(2)
    w = img0.size(3)
    reduced = not self.synth_fp32 and self.ops.reducible(img0)
    like = img0
    img0 = img0.float()
    img1 = img1.float()
    if not reduced:
        like = img0
    # The flow is projected at its own resolution (the frames', or lower
    # with downscale); its reliability only weights and gates, and half of
    # that resolution does for it.
    hs = flows.size(2)
    ws = flows.size(3)
    coarse = torch.avg_pool2d(flows, [2, 2], [2, 2], [0, 0], True, True, None) * 0.5
    size = [coarse.size(2), coarse.size(3)]
    small = torch.cat([torch.adaptive_avg_pool2d(img0, size), torch.adaptive_avg_pool2d(img1, size)], 0)
    quality, match = self.reliability(small, coarse, float(size[1]) / float(w))
    # Past a megapixel, half the resolution does for the projection too;
    # the frames are still sampled at theirs.
    q = quality
    if self.ops.past_megapixel(flows):
        flows = coarse
        hs = size[0]
        ws = size[1]
    else:
        q = torch.upsample_bilinear2d(quality, [hs, ws], False, None)
    # Each frame's pixels travel their vector times their distance to t.
    # Filled on the device: a tensor made from host values would be a copy
    # that waits for the device.
    reach = torch.full([2, 1, 1], t, dtype=flows.dtype, device=flows.device)
    reach[1].fill_(1.0 - t)
    xs = torch.arange(ws, dtype=flows.dtype, device=flows.device).view([1, 1, ws])
    ys = torch.arange(hs, dtype=flows.dtype, device=flows.device).view([1, hs, 1])
    px = (flows[:, 0] * reach + xs).reshape([-1])
    py = (flows[:, 1] * reach + ys).reshape([-1])
    inside = ((px > -1.0) & (px < float(ws)) & (py > -1.0) & (py < float(hs))).to(flows.dtype)
    # Splats carry the vector from frame 0 to frame 1 (the backward flow
    # negated), a weight that favours the nearer frame and consistent
    # pixels, so that those being covered lose, and frame 0's part of it.
    weight = (q[:, 0] * (1.0 - reach)).reshape([-1]) * inside
    own = weight[0:hs * ws]
    signed = torch.cat([own, -weight[hs * ws:]])
    values = [flows[:, 0].reshape([-1]) * signed, flows[:, 1].reshape([-1]) * signed, weight,
              torch.cat([own, torch.zeros_like(own)])]
    filled = self.fill_holes(self.splat(px, py, values, hs, ws).unsqueeze(0), 2)
    # Fusion at 4, then 8 pixels of the frames, with the frames' luminance
    # at the projection's resolution.
    guide = small
    if hs != size[0] or ws != size[1]:
        guide = torch.cat([img0, img1], 0)
        if hs != h or ws != w:
            guide = torch.adaptive_avg_pool2d(guide, [hs, ws])
    guide = guide.mean(1, keepdim=True)
    along = torch.full([2, 1, 1, 1], -t, dtype=flows.dtype, device=flows.device)
    along[1].fill_(1.0 - t)
    ft = filled[:, 0:2]
    for radius in [4.0, 8.0]:
        ft = self.fuse(guide, ft, along, max(1, int(radius * float(ws) / float(w) + 0.5)))
    share0 = torch.clamp(filled[:, 3:4], 0.0, 1.0)
    if hs != h or ws != w:
        ft = self.ops.resize_flow(ft, h, w)
        share0 = torch.upsample_bilinear2d(share0, [h, w], False, None)
    # Bicubic sampling keeps fine detail sharp; past a megapixel there is
    # less of it, and bilinear costs a quarter.
    mode = 0 if self.ops.past_megapixel(img0) else 2
    s0 = self.ops.warp(img0, ft * (-t), mode)
    s1 = self.ops.warp(img1, ft * (1.0 - t), mode)
    # The gates come from the reliability maps, sampled where s0 and s1 were,
    # at the maps' resolution.
    fc = self.ops.resize_flow(ft, size[0], size[1])
    g0 = self.ops.warp(torch.cat([quality[0:1], match[0:1]], 1), fc * (-t), 0)
    g1 = self.ops.warp(torch.cat([quality[1:2], match[1:2]], 1), fc * (1.0 - t), 0)
    # A sample from a pixel that the other frame hides is the only view of
    # what lies there at t: lean on that sample's frame. Where neither sample
    # comes from a pixel with a trustworthy match, the flow is wrong there
    # and a plain blend is the safer guess; unless just one of them is
    # hidden, which is an occlusion that the lean resolves, and where a
    # blend would lay the occluder over the background it uncovers.
    hidden0 = torch.clamp(1.0 - g0[:, 0:1] * 2.0, 0.0, 1.0)
    hidden1 = torch.clamp(1.0 - g1[:, 0:1] * 2.0, 0.0, 1.0)
    occlusion = (hidden0 - hidden1).abs()
    trust = torch.clamp(torch.max(torch.max(g0[:, 1:2], g1[:, 1:2]), occlusion) * (1.0 / 0.3), 0.0, 1.0)
    gates = torch.upsample_bilinear2d(torch.cat([hidden0, hidden1, trust], 1), [h, w], False, None)
    w0 = share0 * (1.001 - gates[:, 1:2])
    w1 = (1.0 - share0) * (1.001 - gates[:, 0:1])
    share0 = (w0 / (w0 + w1)).to(like.dtype)
    out = torch.lerp(s1.to(like.dtype), s0.to(like.dtype), share0)
    # Where both frames see the pixel and still disagree along its vector,
    # where it lies at t is uncertain: the mean over the places it may lie
    # (a 3 x 3 blur, in full where they differ by 0.4) is a smaller error on
    # average than a sharp guess, and it keeps the disagreement from showing
    # as a double edge.
    differ = self.ops.box((s0 - s1).abs().mean(1, keepdim=True), 2)
    doubt = torch.clamp(differ * (1.0 / 0.4), 0.0, 1.0) * (1.0 - torch.max(gates[:, 0:1], gates[:, 1:2]))
    out = torch.lerp(out, self.ops.box(out, 1), doubt.to(like.dtype))
    # The plain blend takes each frame where the pixel is at rest, which
    # where something moved lays it over what it uncovers. Where the two
    # samples agree (to about the noise of a frame, 0.05) they are views of
    # the same thing, even when neither comes from a trustworthy match, and
    # a better guess.
    blend = torch.lerp(img0.to(like.dtype), img1.to(like.dtype), t)
    agree = torch.exp(differ * differ * -400.0)
    return torch.lerp(blend, out, torch.max(gates[:, 2:3], agree).to(like.dtype))
)TS",
    };
    return methods;
}

const std::vector<std::string>& flowInterpolatorMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, timestep: float, steps: int, flow_magnitude: int,
            threshold: float, downscale: float) -> Tensor:
    # img0, img1 [1, 3, H, W] (H and W multiples of 32, rows top-down),
    # PU21-encoded, float32, Half or BFloat16, on any device. Returns the frame
    # at timestep [1, 3, H, W] in the inputs' dtype and on their device.
    # steps (0 .. 5) adds refinement warps, flow_magnitude (1 .. 3) reaches
    # larger motion, downscale (1.0, 0.5, 0.25) estimates the flow at that
    # fraction of the resolution; within threshold of either end, that frame.
    # Tensor values are read on the host twice, never in the loops: equal
    # frames, before any work, and the cut check, between estimation and
    # synthesis, whose work on a cut it saves.
    if timestep <= threshold:
        return img0
    if timestep >= 1.0 - threshold:
        return img1
    if bool(torch.equal(img0, img1)):
        return img0
    nearer = img0 if timestep < 0.5 else img1
    steps = min(max(steps, 0), 5)
    flow_magnitude = min(max(flow_magnitude, 1), 3)
    downscale = min(max(downscale, 0.125), 1.0)
    flows, cut = self.flow.forward(img0, img1, steps, flow_magnitude, downscale)
    # Unrelated frames (a cut): morphing one into the other would only give
    # a cross-dissolve, so the nearer frame holds up to the cut.
    if bool((cut[0] > 0.4) & (cut[1] > 0.2)):
        return nearer
    out = self.synth.forward(img0, img1, flows, timestep).to(img0.dtype)
    return torch.where(torch.isfinite(out), out, nearer)
)TS",
    };
    return methods;
}

}  // namespace tweenora::models
