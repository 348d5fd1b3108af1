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
    mean = self.ops.box(flow * c, self.fill_radius) / (self.ops.box(c, self.fill_radius) + 1e-4)
    return flow * c + mean * (1.0 - c)
)TS",
        R"TS(
def refine_tvl1(self, img: Tensor, tgt: Tensor, flow: Tensor, warps: int, iters: int) -> Tensor:
    # TV-L1 (primal-dual, Zach-Pock-Bischof); colour data term by one
    # thresholding step per channel.
    if self.refine_mode == 1:
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
        warped = self.ops.warp(stack, flow, self.warp_mode)
        if self.warp_grads != 1:
            wgx, wgy = self.ops.gradients(warped)
            warped = torch.cat([warped, wgx, wgy], 1)
        grads: List[Tensor] = []
        invs: List[Tensor] = []
        rhos: List[Tensor] = []
        for c in range(nc):
            gw = torch.cat([warped[:, nc + c:nc + c + 1], warped[:, 2 * nc + c:2 * nc + c + 1]], 1)
            grads.append(gw)
            invs.append(1.0 / ((gw * gw).sum(1, keepdim=True) + 1e-12))
            rhos.append(warped[:, c:c + 1] - img[:, c:c + 1] - (gw * flow).sum(1, keepdim=True))
        u = flow
        for k in range(iters):
            v = u
            for c in range(nc):
                gw = grads[c]
                rho = rhos[c] + (gw * v).sum(1, keepdim=True)
                v = v + torch.clamp(-rho * invs[c], -lt, lt) * gw
            divp = px - torch.constant_pad_nd(px[:, :, :, :-1], [1, 0, 0, 0], 0.0) + py - torch.constant_pad_nd(py[:, :, :-1], [0, 0, 1, 0], 0.0)
            u = v + divp * theta
            ux = torch.constant_pad_nd(u[:, :, :, 1:] - u[:, :, :, :-1], [0, 1, 0, 0], 0.0)
            uy = torch.constant_pad_nd(u[:, :, 1:] - u[:, :, :-1], [0, 0, 0, 1], 0.0)
            ng = 1.0 + torch.sqrt(ux * ux + uy * uy) * step
            px = (px + ux * step) / ng
            py = (py + uy * step) / ng
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
    while len(levels) <= 3 + flow_magnitude and min(levels[-1].size(2), levels[-1].size(3)) >= 32:
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
            flow = self.search(img, tgt, flow, self.search_radius)
        nw = self.warps + steps
        ni = self.inner
        if k == n - 1:
            nw = self.fine_warps + steps
            ni = self.fine_iters
        if self.refine_mode >= 1:
            flow = self.refine_tvl1(img, tgt, flow, nw, ni)
        else:
            flow = self.refine(img, tgt, flow, self.warps + steps, self.inner)
        if self.fill_radius > 0:
            flow = self.fill_inconsistent(flow)
    return flow
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, steps: int, flow_magnitude: int, downscale: float) -> Tensor:
    # Flow [2, 2, H, W] in pixels: batch 0 from img0 to img1, batch 1 back.
    h = img0.size(2)
    w = img0.size(3)
    pair = torch.cat([img0, img1], 0)
    if downscale < 1.0:
        hs = max(8, int(float(h) * downscale + 0.5))
        ws = max(8, int(float(w) * downscale + 0.5))
        pair = torch.adaptive_avg_pool2d(pair, [hs, ws])
    flow = self.estimate(pair, steps, flow_magnitude)
    if flow.size(2) != h or flow.size(3) != w:
        flow = self.ops.resize_flow(flow, h, w)
    return flow
)TS",
    };
    return methods;
}

const std::vector<std::string>& frameSynthesiserMethods() {
    static const std::vector<std::string> methods = {
        R"TS(
def splat(self, px: Tensor, py: Tensor, values: Tensor, h: int, w: int) -> Tensor:
    # Bilinear forward splatting: adds values [C, N] at positions (px, py) [N]
    # into an [C, h * w] accumulator, one flat scatter_add_ per tap and channel.
    x0 = torch.floor(px)
    y0 = torch.floor(py)
    fx = px - x0
    fy = py - y0
    xi = x0.long()
    yi = y0.long()
    acc = torch.zeros([values.size(0), h * w], dtype=values.dtype, device=values.device)
    for tap in range(4):
        ox = tap % 2
        oy = tap // 2
        wx = fx if ox == 1 else 1.0 - fx
        wy = fy if oy == 1 else 1.0 - fy
        tx = xi + ox
        ty = yi + oy
        inside = (tx >= 0) & (tx < w) & (ty >= 0) & (ty < h)
        weight = wx * wy * inside.to(values.dtype)
        index = torch.clamp(ty, 0, h - 1) * w + torch.clamp(tx, 0, w - 1)
        for c in range(values.size(0)):
            acc[c].scatter_add_(0, index, values[c] * weight)
    return acc
)TS",
        R"TS(
def fill_holes(self, acc: Tensor, weight_index: int) -> Tensor:
    # Push-pull: normalises weighted sums [1, C, H, W] and fills pixels no
    # splat reached from ever coarser averages.
    levels: List[Tensor] = [acc]
    while min(levels[-1].size(2), levels[-1].size(3)) > 2:
        levels.append(self.ops.downsample(levels[-1]))
    n = len(levels)
    filled = levels[n - 1]
    weight = filled[:, weight_index:weight_index + 1]
    filled = filled / torch.clamp(weight, 1e-6)
    for k in range(1, n):
        lvl = levels[n - 1 - k]
        weight = lvl[:, weight_index:weight_index + 1]
        up = torch.upsample_bilinear2d(filled, [lvl.size(2), lvl.size(3)], False, None)
        conf = torch.clamp(weight * 20.0, 0.0, 1.0)
        filled = lvl / torch.clamp(weight, 1e-6) * conf + up * (1.0 - conf)
    return filled
)TS",
        R"TS(
def forward(self, img0: Tensor, img1: Tensor, flows: Tensor, t: float) -> Tensor:
    # Projects both flows to time t by forward splatting (weighted by their
    # forward-backward consistency), then samples both frames bicubically along
    # the projected flow and blends them by the share each frame contributed.
    h = img0.size(2)
    w = img0.size(3)
    f01 = flows[0:1]
    f10 = flows[1:2]
    back = torch.cat([self.ops.warp(f10, f01, 0), self.ops.warp(f01, f10, 0)], 0)
    mismatch = (flows + back).pow(2).sum(1, keepdim=True)
    scale = (flows.pow(2).sum(1, keepdim=True) + back.pow(2).sum(1, keepdim=True)) * 0.01 + 0.5
    quality = torch.exp(-mismatch / scale * self.occ_strength) + 1e-3
    q0 = quality[0:1] * (1.0 - t)
    q1 = quality[1:2] * t
    xs = torch.arange(w, dtype=flows.dtype, device=flows.device).view([1, w]).expand([h, w]).reshape([-1])
    ys = torch.arange(h, dtype=flows.dtype, device=flows.device).view([h, 1]).expand([h, w]).reshape([-1])
    px = torch.cat([xs + f01[0, 0].reshape([-1]) * t, xs + f10[0, 0].reshape([-1]) * (1.0 - t)])
    py = torch.cat([ys + f01[0, 1].reshape([-1]) * t, ys + f10[0, 1].reshape([-1]) * (1.0 - t)])
    v0 = torch.cat([f01[0] * q0[0], q0[0], q0[0]], 0).reshape([4, -1])
    v1 = torch.cat([-f10[0] * q1[0], q1[0], torch.zeros_like(q1[0])], 0).reshape([4, -1])
    acc = self.splat(px, py, torch.cat([v0, v1], 1), h, w).view([1, 4, h, w])
    filled = self.fill_holes(acc, 2)
    ft = filled[:, 0:2]
    if self.mode == 1:
        ft = (f01 - f10) * 0.5
    share0 = torch.clamp(filled[:, 3:4], 0.0, 1.0)
    if self.vis_mode == 1:
        c0 = self.ops.warp(quality[0:1], ft * (-t), 0)
        c1 = self.ops.warp(quality[1:2], ft * (1.0 - t), 0)
        o0 = torch.clamp((self.vis_floor - c0) / self.vis_floor, 0.0, 1.0)
        o1 = torch.clamp((self.vis_floor - c1) / self.vis_floor, 0.0, 1.0)
        w0 = share0 * (1.0 - o1 + 1e-3)
        w1 = (1.0 - share0) * (1.0 - o0 + 1e-3)
        share0 = w0 / (w0 + w1)
    if self.prefilter != 0.0:
        img0 = img0 + (img0 - self.ops.box(img0, 1)) * self.prefilter
        img1 = img1 + (img1 - self.ops.box(img1, 1)) * self.prefilter
    s0 = self.ops.warp(img0, ft * (-t), 2)
    s1 = self.ops.warp(img1, ft * (1.0 - t), 2)
    out = s0 * share0 + s1 * (1.0 - share0)
    if self.sharpen > 0.0:
        out = out + (out - self.ops.box(out, 1)) * self.sharpen
    if self.debug == 1:
        return torch.cat([out, s0, s1, share0.expand([1, 3, h, w])], 0)
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
    # img0, img1 [1, 3, H, W], H and W multiples of 32; returns the frame at
    # timestep in the inputs' dtype and device.
    if timestep <= threshold:
        return img0
    if timestep >= 1.0 - threshold:
        return img1
    if bool(torch.equal(img0, img1)):
        return img0
    x0 = img0.float()
    x1 = img1.float()
    flows = self.flow.forward(x0, x1, steps, flow_magnitude, downscale)
    out = self.synth.forward(x0, x1, flows, timestep)
    return out.to(img0.dtype)
)TS",
    };
    return methods;
}

}  // namespace tweenora::models
