// SPDX-License-Identifier: Apache-2.0
// TorchScript source of the built-in interpolation network, one raw string per method.
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
    # outliers and keeps steps, far cheaper than sorting windows.
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
def prepare(self, x: Tensor) -> Tensor:
    # Float32 copy for estimation, finite and within a range where squared
    # differences cannot overflow.
    return torch.clamp(torch.nan_to_num(x.float(), 0.0, 64.0, -64.0), -64.0, 64.0)
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
    # Colour difference summed over channels and a 5 x 5 window.
    return self.ops.box(torch.abs(a - b).sum(1, keepdim=True), 2)
)TS",
        R"TS(
def search(self, img: Tensor, tgt: Tensor, flow: Tensor, radius: int) -> Tensor:
    # Exhaustive integer search of displacements up to radius around zero; a
    # candidate replaces the current flow only where it matches clearly better.
    h = img.size(2)
    w = img.size(3)
    current = self.match_cost(img, self.ops.warp(tgt, flow, 0))
    padded = torch.replication_pad2d(tgt, [radius, radius, radius, radius])
    costs: List[Tensor] = []
    for dy in range(2 * radius + 1):
        for dx in range(2 * radius + 1):
            costs.append(self.match_cost(img, padded[:, :, dy:dy + h, dx:dx + w]))
    volume = torch.cat(costs, 1)
    best, index = torch.min(volume, 1, keepdim=True)
    side = 2 * radius + 1
    dx = torch.remainder(index, side) - radius
    dy = torch.div(index, side, rounding_mode="floor") - radius
    found = torch.cat([dx, dy], 1).to(flow.dtype)
    return torch.where(best < current * 0.9, found, flow)
)TS",
        R"TS(
def neighbour_weights(self, img: Tensor) -> Tuple[Tensor, Tensor]:
    # Diffusion weights between horizontal and vertical pixel pairs: close to
    # 1 inside regions, small across colour edges, where motion often changes.
    dx = (img[:, :, :, 1:] - img[:, :, :, :-1]).pow(2).sum(1, keepdim=True)
    dy = (img[:, :, 1:] - img[:, :, :-1]).pow(2).sum(1, keepdim=True)
    s = self.edge_sigma * self.edge_sigma
    return torch.exp(dx * (-1.0 / s)), torch.exp(dy * (-1.0 / s))
)TS",
        R"TS(
def neighbour_mean(self, f: Tensor, wx: Tensor, wy: Tensor, norm: Tensor) -> Tensor:
    # Weighted mean of the four neighbours of every pixel.
    num = torch.constant_pad_nd(wx * f[:, :, :, 1:], [0, 1, 0, 0], 0.0) + torch.constant_pad_nd(wx * f[:, :, :, :-1], [1, 0, 0, 0], 0.0)
    num = num + torch.constant_pad_nd(wy * f[:, :, 1:], [0, 0, 0, 1], 0.0) + torch.constant_pad_nd(wy * f[:, :, :-1], [0, 0, 1, 0], 0.0)
    return num * norm
)TS",
        R"TS(
def refine(self, img: Tensor, tgt: Tensor, flow: Tensor, warps: int, inner: int) -> Tensor:
    # Warping iterations of a combined local-global linearised solver: the data
    # term is integrated over a small window with robust (Charbonnier) weights,
    # and Jacobi sweeps pull each vector towards its neighbours' mean.
    alpha = self.alpha
    gx0, gy0 = self.ops.gradients(img)
    iwx, iwy = self.neighbour_weights(img)
    for i in range(warps):
        fx = (flow[:, :, :, 1:] - flow[:, :, :, :-1]).pow(2).sum(1, keepdim=True)
        fy = (flow[:, :, 1:] - flow[:, :, :-1]).pow(2).sum(1, keepdim=True)
        e2 = self.flow_eps * self.flow_eps
        wx = iwx * torch.rsqrt(fx * (1.0 / e2) + 1.0)
        wy = iwy * torch.rsqrt(fy * (1.0 / e2) + 1.0)
        den = torch.constant_pad_nd(wx, [0, 1, 0, 0], 0.0) + torch.constant_pad_nd(wx, [1, 0, 0, 0], 0.0)
        den = den + torch.constant_pad_nd(wy, [0, 0, 0, 1], 0.0) + torch.constant_pad_nd(wy, [0, 0, 1, 0], 0.0)
        norm = 1.0 / (den + 1e-6)
        smooth = alpha * den * 0.25
        warped = self.ops.warp(tgt, flow, self.warp_mode)
        gx1, gy1 = self.ops.gradients(warped)
        ix = (gx0 + gx1) * 0.5
        iy = (gy0 + gy1) * 0.5
        it = warped - img
        rob = torch.rsqrt(it * it * (1.0 / (self.data_eps * self.data_eps)) + 1.0)
        rix = rob * ix
        riy = rob * iy
        terms = torch.cat([(rix * ix).sum(1, keepdim=True), (rix * iy).sum(1, keepdim=True),
                           (riy * iy).sum(1, keepdim=True), (rix * it).sum(1, keepdim=True),
                           (riy * it).sum(1, keepdim=True)], 1)
        terms = self.ops.box(terms, self.data_radius)
        if self.edge_mode == 1:
            a11 = terms[:, 0:1] + smooth
            a22 = terms[:, 2:3] + smooth
        else:
            a11 = terms[:, 0:1] + alpha
            a22 = terms[:, 2:3] + alpha
        a12 = terms[:, 1:2]
        b1 = terms[:, 3:4]
        b2 = terms[:, 4:5]
        det = a11 * a22 - a12 * a12
        du = torch.zeros_like(flow)
        for k in range(inner):
            if self.edge_mode == 1:
                pull = (self.neighbour_mean(flow + du, wx, wy, norm) - flow) * smooth
            else:
                pull = (self.ops.box(flow + du, 1) - flow) * alpha
            r1 = pull[:, 0:1] - b1
            r2 = pull[:, 1:2] - b2
            du = torch.cat([(a22 * r1 - a12 * r2) / det, (a11 * r2 - a12 * r1) / det], 1)
        flow = flow + torch.clamp(du, -2.0, 2.0)
        for m in range(self.median):
            flow = self.ops.median3(flow)
    return flow
)TS",
        R"TS(
def consistency(self, flow: Tensor) -> Tensor:
    # Forward-backward agreement in [0, 1] of both flows [2, 2, H, W].
    back = torch.cat([self.ops.warp(flow[1:2], flow[0:1], 0), self.ops.warp(flow[0:1], flow[1:2], 0)], 0)
    mismatch = (flow + back).pow(2).sum(1, keepdim=True)
    return torch.exp(mismatch * (-1.0 / (self.fill_sigma * self.fill_sigma)))
)TS",
        R"TS(
def fill_inconsistent(self, flow: Tensor) -> Tensor:
    # Replaces vectors that fail the forward-backward check by the mean of
    # their consistent neighbours (normalised convolution).
    c = self.consistency(flow)
    if self.fill_pooled == 1:
        k = 2 * self.fill_radius + 1
        wsum = torch.avg_pool2d(torch.cat([flow * c, c], 1), [k, k], [k, k], [0, 0], True, True, None)
        wsum = torch.upsample_bilinear2d(wsum, [flow.size(2), flow.size(3)], False, None)
        mean = wsum[:, 0:2] / (wsum[:, 2:3] + 1e-4)
    else:
        mean = self.ops.box(flow * c, self.fill_radius) / (self.ops.box(c, self.fill_radius) + 1e-4)
    return flow * c + mean * (1.0 - c)
)TS",
        R"TS(
def refine_tvl1(self, img: Tensor, tgt: Tensor, flow: Tensor, warps: int, iters: int, luma: bool, mode: int) -> Tensor:
    # TV-L1 (primal-dual, Zach-Pock-Bischof); colour data term by one
    # thresholding step per channel.
    if luma:
        img = img.mean(1, keepdim=True)
        tgt = tgt.mean(1, keepdim=True)
    nc = img.size(1)
    stack = tgt
    if self.warp_grads == 1:
        gx1, gy1 = self.ops.gradients(tgt)
        stack = torch.cat([tgt, gx1, gy1], 1)
    lt = self.tv_lambda * self.tv_theta / float(nc)
    theta = self.tv_theta
    step = 0.25 / theta
    px = torch.zeros_like(flow)
    py = torch.zeros_like(flow)
    for w in range(warps):
        warped = self.ops.warp(stack, flow, mode)
        if self.warp_grads != 1:
            wgx, wgy = self.ops.gradients(warped)
            warped = torch.cat([warped, wgx, wgy], 1)
        gxs: List[Tensor] = []
        gys: List[Tensor] = []
        ninvs: List[Tensor] = []
        rhos: List[Tensor] = []
        f0 = flow[:, 0:1]
        f1 = flow[:, 1:2]
        for c in range(nc):
            gx = warped[:, nc + c:nc + c + 1].contiguous()
            gy = warped[:, 2 * nc + c:2 * nc + c + 1].contiguous()
            gxs.append(gx)
            gys.append(gy)
            ninvs.append(-1.0 / (torch.addcmul(gx * gx, gy, gy) + 1e-12))
            rhos.append(warped[:, c:c + 1] - img[:, c:c + 1] - gx * f0 - gy * f1)
        u = flow
        for k in range(iters):
            v0 = u[:, 0:1]
            v1 = u[:, 1:2]
            for c in range(nc):
                rho = torch.addcmul(torch.addcmul(rhos[c], gxs[c], v0), gys[c], v1)
                d = torch.clamp(rho * ninvs[c], -lt, lt)
                v0 = torch.addcmul(v0, d, gxs[c])
                v1 = torch.addcmul(v1, d, gys[c])
            divp = px + py - torch.constant_pad_nd(px[:, :, :, :-1], [1, 0, 0, 0], 0.0) - torch.constant_pad_nd(py[:, :, :-1], [0, 0, 1, 0], 0.0)
            u = torch.add(torch.cat([v0, v1], 1), divp, alpha=theta)
            ux = torch.constant_pad_nd(u[:, :, :, 1:] - u[:, :, :, :-1], [0, 1, 0, 0], 0.0)
            uy = torch.constant_pad_nd(u[:, :, 1:] - u[:, :, :-1], [0, 0, 0, 1], 0.0)
            ng = torch.sqrt(torch.addcmul(ux * ux, uy, uy)) * step + 1.0
            px = torch.add(px, ux, alpha=step) / ng
            py = torch.add(py, uy, alpha=step) / ng
        flow = u
        for m in range(self.median):
            flow = self.ops.median3(flow)
    return flow
)TS",
        R"TS(
def estimate(self, pair: Tensor, steps: int, flow_magnitude: int) -> Tensor:
    # Coarse to fine over a pyramid of both frames at once (batch 0 looks for
    # frame 1, batch 1 for frame 0).
    levels: List[Tensor] = [pair]
    smallest = 40 - 8 * flow_magnitude
    while len(levels) <= 3 + flow_magnitude and min(levels[-1].size(2), levels[-1].size(3)) >= smallest:
        levels.append(self.ops.downsample(levels[-1]))
    n = len(levels)
    coarsest = levels[n - 1]
    flow = torch.zeros([2, 2, coarsest.size(2), coarsest.size(3)], dtype=pair.dtype, device=pair.device)
    for k in range(n):
        img = levels[n - 1 - k]
        tgt = img.flip([0])
        if k > 0:
            flow = self.ops.resize_flow(flow, img.size(2), img.size(3))
        if k < self.search_levels:
            radius = self.search_radius
            if k == 0:
                radius = radius + 2 * (flow_magnitude - 1)
            flow = self.search(img, tgt, flow, radius)
        nw = self.warps + steps
        ni = self.inner
        if k == n - 1:
            nw = self.fine_warps + steps
            ni = self.fine_iters
        if self.refine_mode >= 1:
            fine = k == n - 1
            luma = self.refine_mode == 1 or (fine and self.fine_luma == 1)
            flow = self.refine_tvl1(img, tgt, flow, nw, ni, luma, self.fine_warp_mode if fine else self.warp_mode)
        else:
            flow = self.refine(img, tgt, flow, self.warps + steps, self.inner)
        if self.fill_radius > 0 and (k < n - 1 or self.fill_fine == 1):
            flow = self.fill_inconsistent(flow)
    return flow
)TS",
        R"TS(
def cut_score(self, img0: Tensor, img1: Tensor, flows: Tensor) -> Tensor:
    a = torch.avg_pool2d(self.ops.prepare(torch.cat([img0, img1], 0)), [4, 4], [4, 4], [0, 0], True, True, None)
    f = torch.avg_pool2d(flows, [4, 4], [4, 4], [0, 0], True, True, None) * 0.25
    residual = self.ops.warp(a.flip([0]), f, 0) - a
    residual = residual - residual.mean([2, 3], keepdim=True)
    spread = (a - a.mean([2, 3], keepdim=True)).abs().mean()
    thumb = torch.adaptive_avg_pool2d(a, [self.thumb, self.thumb])
    tspread = (thumb - thumb.mean([2, 3], keepdim=True)).abs().mean()
    tdiff = ((thumb[1] - thumb[0]) - (thumb[1] - thumb[0]).mean([1, 2], keepdim=True)).abs().mean()
    return torch.stack([residual.abs().mean() / torch.clamp(spread, 0.02), tdiff / torch.clamp(spread, 0.02)])
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, steps: int, flow_magnitude: int, downscale: float) -> Tensor:
    # Flow [2, 2, H, W] in pixels: batch 0 from img0 to img1, batch 1 back.
    h = img0.size(2)
    w = img0.size(3)
    pair = self.ops.prepare(torch.cat([img0, img1], 0))
    if downscale < 1.0:
        hs = max(8, int(float(h) * downscale + 0.5))
        ws = max(8, int(float(w) * downscale + 0.5))
        pair = torch.adaptive_avg_pool2d(pair, [hs, ws])
    flow = self.estimate(pair, steps, flow_magnitude)
    if flow.size(2) != h or flow.size(3) != w:
        flow = self.ops.resize_flow(flow, h, w)
    # Vectors beyond twice the frame's size mean nothing; keep them finite.
    reach = 2.0 * float(max(h, w))
    return torch.clamp(torch.nan_to_num(flow, 0.0, reach, -reach), -reach, reach)
)TS",
    };
    return methods;
}

const std::vector<std::string>& frameSynthesiserMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def splat(self, px: Tensor, py: Tensor, values: Tensor, h: int, w: int) -> Tensor:
    # Bilinear forward splatting of values [C, N] to positions (px, py) [N];
    # returns the sums [C, h, w]. Points outside (-1, w) x (-1, h) must carry
    # zero values. The accumulator has a margin, so no tap needs a bounds
    # test: one flat scatter_add_ per tap and channel.
    wp = w + 3
    hp = h + 3
    px = torch.clamp(px, -1.0, float(w)) + 1.0
    py = torch.clamp(py, -1.0, float(h)) + 1.0
    x0 = torch.floor(px)
    y0 = torch.floor(py)
    fx = px - x0
    fy = py - y0
    gx = 1.0 - fx
    gy = 1.0 - fy
    base = y0.long() * wp + x0.long()
    acc = torch.zeros([values.size(0), hp * wp], dtype=values.dtype, device=values.device)
    for tap in range(4):
        ox = tap % 2
        oy = tap // 2
        weight = (fx if ox == 1 else gx) * (fy if oy == 1 else gy)
        index = base + (oy * wp + ox)
        for c in range(values.size(0)):
            acc[c].scatter_add_(0, index, values[c] * weight)
    return acc.view([values.size(0), hp, wp])[:, 1:h + 1, 1:w + 1]
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
        conf = torch.clamp(weight * 20.0, 0.0, 1.0)
        filled = torch.lerp(up, lvl / torch.clamp(weight, 1e-6), conf)
    return filled
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, flows: Tensor, t: float) -> Tensor:
    # img0, img1 [1, C, H, W]; flows [2, 2, H, W] (0 -> 1, then 1 -> 0).
    # Projects both flows to time t by forward splatting, weighted by their
    # forward-backward consistency, samples both frames bicubically along the
    # projected flow and blends them: by the share each frame contributed to
    # the splat, less where the sample falls on a pixel the other frame hides.
    h = img0.size(2)
    w = img0.size(3)
    nc = img0.size(1)
    if self.synth_fp32 or not img0.is_cuda:
        img0 = img0.float()
        img1 = img1.float()
    flows = flows.to(img0.dtype)
    back = self.ops.warp(flows.flip([0]), flows, 0)
    err = flows + back
    mismatch = (err * err).sum(1, keepdim=True)
    scale = ((flows * flows).sum(1, keepdim=True) + (back * back).sum(1, keepdim=True)) * 0.01 + 0.5
    quality = torch.exp(mismatch / scale * (-self.occ_strength)) + 1e-3
    pair = torch.cat([img0, img1], 0)
    photo = (self.ops.warp(pair.flip([0]), flows, 0) - pair).abs().mean(1, keepdim=True)
    match = quality * torch.exp(photo * photo * (-1.0 / (self.photo_sigma * self.photo_sigma)))
    # Each frame's pixels move by its flow times its distance to t.
    reach = torch.tensor([t, 1.0 - t], dtype=flows.dtype, device=flows.device).view([2, 1, 1, 1])
    xs = torch.arange(w, dtype=flows.dtype, device=flows.device).view([1, 1, w])
    ys = torch.arange(h, dtype=flows.dtype, device=flows.device).view([1, h, 1])
    px = (flows[:, 0] * reach.view([2, 1, 1]) + xs).reshape([-1])
    py = (flows[:, 1] * reach.view([2, 1, 1]) + ys).reshape([-1])
    inside = ((px > -1.0) & (px < float(w)) & (py > -1.0) & (py < float(h))).to(flows.dtype)
    # Splat weights favour the nearer frame; the backward flow is negated
    # so that both sources splat vectors from frame 0 to frame 1.
    q = quality * (1.0 - reach)
    sign = torch.tensor([1.0, -1.0], dtype=flows.dtype, device=flows.device).view([2, 1, 1, 1])
    first = torch.tensor([1.0, 0.0], dtype=flows.dtype, device=flows.device).view([2, 1, 1, 1])
    values = torch.cat([flows * (q * sign), q, q * first], 1).permute([1, 0, 2, 3]).reshape([4, -1])
    acc = self.splat(px, py, values * inside, h, w).unsqueeze(0)
    filled = self.fill_holes(acc, 2)
    ft = filled[:, 0:2]
    share0 = torch.clamp(filled[:, 3:4], 0.0, 1.0)
    s0 = self.ops.warp(torch.cat([img0, quality[0:1], match[0:1]], 1), ft * (-t), 2)
    s1 = self.ops.warp(torch.cat([img1, quality[1:2], match[1:2]], 1), ft * (1.0 - t), 2)
    # A sample whose source pixel has no counterpart in the other frame is
    # the only view of what lies there at t: lean on that frame.
    hidden0 = torch.clamp(1.0 - s0[:, nc:nc + 1] * (1.0 / self.vis_floor), 0.0, 1.0)
    hidden1 = torch.clamp(1.0 - s1[:, nc:nc + 1] * (1.0 / self.vis_floor), 0.0, 1.0)
    w0 = share0 * (1.001 - hidden1)
    w1 = (1.0 - share0) * (1.001 - hidden0)
    share0 = w0 / (w0 + w1)
    out = torch.lerp(s1[:, 0:nc], s0[:, 0:nc], share0)
    if self.fallback > 0.0:
        # Where neither sample comes from a pixel with a trustworthy match,
        # the flow is wrong there: a plain blend is the safer guess.
        trust = torch.clamp(torch.max(s0[:, nc + 1:nc + 2], s1[:, nc + 1:nc + 2]) * (1.0 / self.fallback), 0.0, 1.0)
        out = torch.lerp(torch.lerp(img0, img1, t), out, trust)
    if self.debug == 1:
        return torch.cat([out, s0[:, 0:nc], s1[:, 0:nc], share0.expand([1, nc, h, w])], 0)
    return out
)TS",
    };
    return methods;
}

const std::vector<std::string>& flowInterpolatorMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, timestep: float, steps: int, flow_magnitude: int,
            threshold: float, downscale: float) -> Tensor:
    # img0, img1 [1, 3, H, W] (H and W multiples of 32), any device, float32,
    # Half or BFloat16; returns the frame at timestep [1, 3, H, W] in the
    # inputs' dtype and device.
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
    flows = self.flow.forward(img0, img1, steps, flow_magnitude, downscale)
    # Unrelated frames (a cut): morphing one into the other would only
    # produce a cross-dissolve, so the frame holds until the cut.
    score = self.flow.cut_score(img0, img1, flows)
    if bool(score[0] > 0.4) and bool(score[1] > 0.2):
        return nearer
    out = self.synth.forward(img0, img1, flows, timestep).to(img0.dtype)
    return torch.where(torch.isfinite(out), out, nearer)
)TS",
    };
    return methods;
}

}  // namespace tweenora::models
