#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

Layer makeLayer(int w, int h) {
    Layer l;
    l.w = w;
    l.h = h;
    l.rgb.assign(std::size_t(w) * h, Rgb{0, 0, 0});
    l.alpha.assign(std::size_t(w) * h, 0.0);
    return l;
}

Mask makeMask(int w, int h) {
    Mask m;
    m.w = w;
    m.h = h;
    m.v.assign(std::size_t(w) * h, 0.0);
    return m;
}

Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Rgb scaled(Rgb a, double k) {
    return {a.r * k, a.g * k, a.b * k};
}
Rgb clampRgb(Rgb a) {
    return {std::clamp(a.r, 0.0, 1.0), std::clamp(a.g, 0.0, 1.0), std::clamp(a.b, 0.0, 1.0)};
}

Rgb gradientAt(const Gradient& g, double t) {
    if (g.empty()) return {0, 0, 0};
    if (t <= g.front().at) return g.front().colour;
    for (std::size_t i = 1; i < g.size(); ++i)
        if (t <= g[i].at) {
            double span = g[i].at - g[i - 1].at;
            return mix(g[i - 1].colour, g[i].colour, span > 0 ? (t - g[i - 1].at) / span : 1.0);
        }
    return g.back().colour;
}

void paint(Layer& layer, int x, int y, Rgb c, double a) {
    if (x < 0 || y < 0 || x >= layer.w || y >= layer.h || a <= 0) return;
    a = std::min(a, 1.0);
    std::size_t i = std::size_t(y) * layer.w + x;
    double da = layer.alpha[i];
    double oa = a + da * (1 - a);
    Rgb d = layer.rgb[i];
    double k = da * (1 - a);
    layer.rgb[i] = {(c.r * a + d.r * k) / oa, (c.g * a + d.g * k) / oa, (c.b * a + d.b * k) / oa};
    layer.alpha[i] = oa;
}

double maskAt(const Mask& m, int x, int y) {
    if (x < 0 || y < 0 || x >= m.w || y >= m.h) return 0;
    return m.v[std::size_t(y) * m.w + x];
}

double maskSample(const Mask& m, double x, double y) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double fx = x - x0, fy = y - y0;
    double a = maskAt(m, x0, y0) + (maskAt(m, x0 + 1, y0) - maskAt(m, x0, y0)) * fx;
    double b = maskAt(m, x0, y0 + 1) + (maskAt(m, x0 + 1, y0 + 1) - maskAt(m, x0, y0 + 1)) * fx;
    return a + (b - a) * fy;
}

Mask dilate(const Mask& m, double radius) {
    Mask out = makeMask(m.w, m.h);
    int r = int(std::ceil(radius));
    // Disc taps with a soft rim so the grown outline stays anti-aliased.
    struct Tap {
        int dx, dy;
        double weight;
    };
    std::vector<Tap> taps;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx) {
            double w = std::clamp(radius + 0.5 - std::sqrt(double(dx * dx + dy * dy)), 0.0, 1.0);
            if (w > 0) taps.push_back({dx, dy, w});
        }
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            double best = 0;
            for (const Tap& t : taps) {
                int sx = x + t.dx, sy = y + t.dy;
                if (sx < 0 || sy < 0 || sx >= m.w || sy >= m.h) continue;
                best = std::max(best, m.v[std::size_t(sy) * m.w + sx] * t.weight);
                if (best >= 1) break;
            }
            out.v[std::size_t(y) * m.w + x] = best;
        }
    return out;
}

static void boxPass(std::vector<double>& v, int w, int h, int radius, bool horizontal) {
    std::vector<double> line;
    int n = horizontal ? w : h, lines = horizontal ? h : w;
    line.resize(n);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> double& {
            return horizontal ? v[std::size_t(l) * w + i] : v[std::size_t(i) * w + l];
        };
        for (int i = 0; i < n; ++i)
            line[i] = at(i);
        double sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < n) ? line[i] : 0;
        for (int i = 0; i < n; ++i) {
            at(i) = sum / (2 * radius + 1);
            int out = i - radius, in = i + radius + 1;
            if (out >= 0) sum -= line[out];
            if (in < n) sum += line[in];
        }
    }
}

Mask blur(const Mask& m, int radius) {
    Mask out = m;
    if (radius <= 0) return out;
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(out.v, out.w, out.h, radius, true);
        boxPass(out.v, out.w, out.h, radius, false);
    }
    return out;
}

Mask shifted(const Mask& m, int dx, int dy) {
    Mask out = makeMask(m.w, m.h);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            out.v[std::size_t(y) * m.w + x] = maskAt(m, x - dx, y - dy);
    return out;
}

Layer downsample(const Layer& l, int f) {
    Layer out = makeLayer(l.w / f, l.h / f);
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            double sa = 0, r = 0, g = 0, b = 0;
            for (int j = 0; j < f; ++j)
                for (int i = 0; i < f; ++i) {
                    std::size_t k = std::size_t(y * f + j) * l.w + (x * f + i);
                    double a = l.alpha[k];
                    sa += a;
                    r += l.rgb[k].r * a;
                    g += l.rgb[k].g * a;
                    b += l.rgb[k].b * a;
                }
            std::size_t o = std::size_t(y) * out.w + x;
            out.alpha[o] = sa / (f * f);
            if (sa > 0) out.rgb[o] = {r / sa, g / sa, b / sa};
        }
    return out;
}

Mask downsample(const Mask& m, int f) {
    Mask out = makeMask(m.w / f, m.h / f);
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            double s = 0;
            for (int j = 0; j < f; ++j)
                for (int i = 0; i < f; ++i)
                    s += m.v[std::size_t(y * f + j) * m.w + (x * f + i)];
            out.v[std::size_t(y) * out.w + x] = s / (f * f);
        }
    return out;
}

std::uint32_t hash3(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = seed * 0x9E3779B9u ^ std::uint32_t(x) * 0x85EBCA6Bu ^ std::uint32_t(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double hash01(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    return hash3(x, y, seed) / 4294967295.0;
}

static int wrap(int v, int p) {
    return ((v % p) + p) % p;
}

double valueNoise(double x, double y, int px, int py, std::uint32_t seed) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double fx = x - x0, fy = y - y0;
    auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    double u = fade(fx), v = fade(fy);
    int xa = wrap(x0, px), xb = wrap(x0 + 1, px), ya = wrap(y0, py), yb = wrap(y0 + 1, py);
    double a = hash01(xa, ya, seed), b = hash01(xb, ya, seed);
    double c = hash01(xa, yb, seed), d = hash01(xb, yb, seed);
    return (a + (b - a) * u) + ((c + (d - c) * u) - (a + (b - a) * u)) * v;
}

double tileFbm(double x, double y, double tile, int baseCells, int octaves, std::uint32_t seed) {
    double sum = 0, amp = 1, norm = 0;
    int cells = baseCells;
    for (int o = 0; o < octaves; ++o) {
        double s = cells / tile;
        sum += valueNoise(x * s, y * s, cells, cells, seed + 101u * o) * amp;
        norm += amp;
        amp *= 0.5;
        cells *= 2;
    }
    return sum / norm;
}

static constexpr int bayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

std::uint16_t toRgb565(Rgb c, int x, int y) {
    c = clampRgb(c);
    double d = (bayer4[y & 3][x & 3] + 0.5) / 16.0;
    int r = std::min(31, int(c.r * 31 + d));
    int g = std::min(63, int(c.g * 63 + d));
    int b = std::min(31, int(c.b * 31 + d));
    return std::uint16_t(r << 11 | g << 5 | b);
}

std::vector<std::uint16_t> toRgb565(const Layer& l) {
    std::vector<std::uint16_t> out(std::size_t(l.w) * l.h);
    for (int y = 0; y < l.h; ++y)
        for (int x = 0; x < l.w; ++x)
            out[std::size_t(y) * l.w + x] = toRgb565(l.rgb[std::size_t(y) * l.w + x], x, y);
    return out;
}

std::vector<std::uint16_t> toKeyedRgb565(const Layer& l, Rgb ground) {
    const std::size_t n = std::size_t(l.w) * l.h;
    std::vector<std::uint8_t> solid(n);
    for (std::size_t i = 0; i < n; ++i)
        solid[i] = l.alpha[i] >= 0.5;
    // Transparent specks enclosed by the motif would show the background through it as
    // stray dots: only transparency reaching the picture's border, or a real opening of a
    // few pixels, stays transparent.
    std::vector<std::uint8_t> outside(n);
    std::vector<int> stack, region;
    for (std::size_t start = 0; start < n; ++start) {
        if (solid[start] || outside[start]) continue;
        region.clear();
        stack.assign(1, int(start));
        outside[start] = 1;
        bool touchesBorder = false;
        while (!stack.empty()) {
            int i = stack.back();
            stack.pop_back();
            region.push_back(i);
            int x = i % l.w, y = i / l.w;
            if (x == 0 || y == 0 || x == l.w - 1 || y == l.h - 1) touchesBorder = true;
            const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& q : next) {
                if (q[0] < 0 || q[1] < 0 || q[0] >= l.w || q[1] >= l.h) continue;
                std::size_t j = std::size_t(q[1]) * l.w + q[0];
                if (solid[j] || outside[j]) continue;
                outside[j] = 1;
                stack.push_back(int(j));
            }
        }
        if (!touchesBorder && region.size() < 8)
            for (int i : region)
                solid[i] = 2;
    }
    std::vector<std::uint16_t> out(n, colourKey);
    for (int y = 0; y < l.h; ++y)
        for (int x = 0; x < l.w; ++x) {
            std::size_t i = std::size_t(y) * l.w + x;
            if (!solid[i]) continue;
            // A filled speck takes the colour its coverage has, over the ground.
            double a = l.alpha[i];
            std::uint16_t p = toRgb565(mix(ground, l.rgb[i], a), x, y);
            // Pure green inside the motif would punch a hole in it.
            if (p == colourKey) p = 0x07C0;
            out[i] = p;
        }
    return out;
}

void rgb565To888(std::uint16_t p, std::uint8_t out[3]) {
    int r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    out[0] = std::uint8_t(r << 3 | r >> 2);
    out[1] = std::uint8_t(g << 2 | g >> 4);
    out[2] = std::uint8_t(b << 3 | b >> 2);
}

Rgb averageColour(const std::vector<std::uint16_t>& pixels) {
    double r = 0, g = 0, b = 0;
    for (std::uint16_t p : pixels) {
        r += (p >> 11) / 31.0;
        g += ((p >> 5) & 63) / 63.0;
        b += (p & 31) / 31.0;
    }
    double n = pixels.empty() ? 1 : double(pixels.size());
    return {r / n, g / n, b / n};
}

bool writePreview(const std::string& path, const std::vector<std::uint16_t>& pixels, int w, int h,
                  bool keyed) {
    std::vector<std::uint8_t> rgb(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::size_t i = std::size_t(y) * w + x;
            std::uint16_t p = pixels[i];
            if (keyed && p == colourKey) {
                std::uint8_t v = ((x / 4 + y / 4) & 1) ? 0x70 : 0x50;
                rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = v;
            } else {
                rgb565To888(p, &rgb[i * 3]);
            }
        }
    return stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3) != 0;
}

bool writeRaw(const std::string& path, const std::vector<std::uint16_t>& pixels) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<std::uint8_t> bytes(pixels.size() * 2);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        bytes[i * 2] = std::uint8_t(pixels[i] & 0xFF);
        bytes[i * 2 + 1] = std::uint8_t(pixels[i] >> 8);
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
