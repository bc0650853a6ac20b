#include "vexlarcore/renderarea.h"

#include "vexlarcore/output.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace vexlar {

namespace {

/// Weighted colour difference: absolute differences in single precision,
/// the weighted sum in double precision, rounded to single.
float colorDifference(const color_t& a, const color_t& b) {
    float dr = std::fabs(a.R - b.R);
    float dg = std::fabs(a.G - b.G);
    float db = std::fabs(a.B - b.B);
    return static_cast<float>(0.299 * dr + 0.587 * dg + 0.114 * db);
}

/// Number of blocks of size bs needed to cover n pixels.
int blockCount(int n, int bs) {
    return n / bs + (n % bs != 0 ? 1 : 0);
}

} // namespace

blockSpliter_t::blockSpliter_t(int w, int h, int bs) : width(w), height(h), blockSize(bs) {
    if (w <= 0 || h <= 0 || bs <= 0) return;
    const int nx = blockCount(w, bs);
    const int ny = blockCount(h, bs);
    const int n = nx * ny;
    regions.resize(n);

    // Each position swaps with one drawn from the whole range. This is not a
    // uniform shuffle, but it is the order hosts reproduce by seeding srand.
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    for (int i = 0; i < n; ++i) {
        int r = std::rand() % n;
        std::swap(order[i], order[r]);
    }

    int k = 0;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i, ++k) {
            const int x = i * bs, y = j * bs;
            const int bw = std::min(bs, w - x), bh = std::min(bs, h - y);
            region_t& r = regions[order[k]];
            r.X = x;
            r.W = bw;
            if (x > 0) {
                r.X = x - 1;
                r.W = bw + 1;
            }
            r.Y = y;
            r.H = bh;
            if (y > 0) {
                r.Y = y - 1;
                r.H = bh + 1;
            }
            // The far border is added only when at least two more pixels
            // remain beyond the block; a last block one pixel wide is not
            // looked at from its left or upper neighbour.
            if (r.X + r.W < w - 1) ++r.W;
            if (r.Y + r.H < h - 1) ++r.H;
            r.realX = x;
            r.realY = y;
            r.realW = bw;
            r.realH = bh;
        }
    }
}

void blockSpliter_t::getArea(renderArea_t& area) {
    if (regions.empty()) return;
    const region_t& r = regions.back();
    area.X = r.X;
    area.Y = r.Y;
    area.W = r.W;
    area.H = r.H;
    const size_t size = static_cast<size_t>(r.W) * static_cast<size_t>(r.H);
    area.image.resize(size, colorA_t(0.0f, 0.0f, 0.0f, 0.0f));
    area.depth.resize(size, 0.0f);
    area.resample.resize(size, false);
    area.realX = r.realX;
    area.realY = r.realY;
    area.realW = r.realW;
    area.realH = r.realH;
    regions.pop_back();
}

bool renderArea_t::checkResample(float threshold) {
    bool any = false;
    for (int y = 0; y < H; ++y) {
        const int ym = std::max(y - 1, 0);
        const int yp = (y + 1 == H) ? y : y + 1;
        for (int x = 0; x < W; ++x) {
            const int xm = std::max(x - 1, 0);
            const int xp = (x + 1 == W) ? x : x + 1;
            const int rows[8] = {ym, ym, ym, y, y, yp, yp, yp};
            const int cols[8] = {xm, x, xp, xm, xp, xm, x, xp};
            const colorA_t& c = image[y * W + x];
            bool flag = false;
            for (int n = 0; n < 8 && !flag; ++n)
                flag = colorDifference(c, image[rows[n] * W + cols[n]]) >= threshold;
            resample[y * W + x] = flag;
            any = any || flag;
        }
    }
    return any;
}

bool renderArea_t::out(colorOutput_t& output) {
    for (int i = 0; i < realW; ++i) {
        for (int j = 0; j < realH; ++j) {
            const int p = (realY - Y + j) * W + (realX - X + i);
            const colorA_t& c = image[p];
            if (!output.putPixel(realX + i, realY + j, static_cast<const color_t&>(c), c.A, depth[p]))
                return false;
        }
    }
    return true;
}

} // namespace vexlar
