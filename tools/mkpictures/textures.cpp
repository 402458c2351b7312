// The two 256 x 256 textures (read modulo 256 by the lens and the tunnel, so everything here
// is periodic over the tile) and the water part's background.
#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int T = 256;

int wrapT(int v) {
    return v & (T - 1);
}

// Lambert and Phong light of a height field at (x, y); the field wraps around the tile.
struct Light {
    double diffuse, specular;
};
Light lightAt(const std::vector<double>& height, int x, int y, double depth, double shininess) {
    auto h = [&](int u, int v) { return height[std::size_t(wrapT(v)) * T + wrapT(u)]; };
    double nx = (h(x - 1, y) - h(x + 1, y)) * depth;
    double ny = (h(x, y - 1) - h(x, y + 1)) * depth;
    double nz = 1.0;
    double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= len, ny /= len, nz /= len;
    const double lx = -0.45, ly = -0.55, lz = 0.70; // from the upper left, toward the viewer
    double ll = std::sqrt(lx * lx + ly * ly + lz * lz);
    double d = std::max(0.0, (nx * lx + ny * ly + nz * lz) / ll);
    // Half vector between the light and a viewer straight ahead.
    double hx = lx / ll, hy = ly / ll, hz = lz / ll + 1.0;
    double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
    double s = std::pow(std::max(0.0, (nx * hx + ny * hy + nz * hz) / hl), shininess);
    return {d, s};
}

} // namespace

Picture makeLensTexture(const Studio& st) {
    Gradient palette = settingGradient(st.look, "lens.palette");
    Rgb vein = settingColour(st.look, "lens.vein");
    std::vector<double> height(T * T), tone(T * T), veins(T * T);
    for (int y = 0; y < T; ++y)
        for (int x = 0; x < T; ++x) {
            // Domain warp: marble bands bent by two noise fields.
            double wx = x + 34.0 * (tileFbm(x, y, T, 4, 4, 11) - 0.5);
            double wy = y + 34.0 * (tileFbm(x, y, T, 4, 4, 12) - 0.5);
            double n = tileFbm(wx, wy, T, 4, 5, 13);
            double bands = 0.5 + 0.5 * std::sin(2 * M_PI * (2.0 * wx + 1.0 * wy) / T + 9.0 * n);
            double t = std::clamp(0.55 * bands + 0.6 * (n - 0.5) + 0.25, 0.0, 1.0);
            std::size_t i = std::size_t(y) * T + x;
            tone[i] = t;
            // Thin veins where a second field crosses its middle.
            double v2 = tileFbm(wx * 1.0, wy * 1.0, T, 8, 4, 14);
            veins[i] = std::exp(-std::pow((v2 - 0.5) * 40.0, 2));
            height[i] = t * 0.8 + tileFbm(x, y, T, 32, 3, 15) * 0.12 - veins[i] * 0.12;
        }
    Layer l = makeLayer(T, T);
    for (int y = 0; y < T; ++y)
        for (int x = 0; x < T; ++x) {
            std::size_t i = std::size_t(y) * T + x;
            Light li = lightAt(height, x, y, 9.0, 24.0);
            Rgb c = gradientAt(palette, tone[i]);
            c = mix(c, vein, veins[i] * 0.75);
            c = scaled(c, 0.35 + 0.85 * li.diffuse);
            c = mix(c, Rgb{1, 1, 1}, li.specular * 0.55);
            paint(l, x, y, clampRgb(c), 1.0);
        }
    return Picture{"p1_txtr.raw", T, T, false, toRgb565(l)};
}

Picture makeTunnelTexture(const Studio& st) {
    Gradient metal = settingGradient(st.look, "tunnel.metal");
    Gradient copper = settingGradient(st.look, "tunnel.copper");
    Rgb glowColour = settingColour(st.look, "tunnel.glow");
    Rgb groove = settingColour(st.look, "tunnel.groove");
    // Plates in a brick pattern: columns run along the depth, rows around the tunnel.
    constexpr int plateU = 32, plateV = 32;
    std::vector<double> height(T * T), groovev(T * T), glow(T * T), grime(T * T);
    std::vector<int> plateId(T * T);
    for (int y = 0; y < T; ++y)
        for (int x = 0; x < T; ++x) {
            // The grid is offset by half a plate so the tile's wrap runs through plates, not grooves.
            int xx = wrapT(x + plateU / 2);
            int col = xx / plateU;
            int yy = wrapT(y + plateV / 4 + (col & 1) * plateV / 2);
            int row = yy / plateV;
            double pu = xx % plateU + 0.5, pv = yy % plateV + 0.5;
            double edge = std::min({pu, plateU - pu, pv, plateV - pv});
            double bevel = std::clamp((edge - 1.0) / 3.0, 0.0, 1.0);
            std::size_t i = std::size_t(y) * T + x;
            plateId[i] = col * 16 + row;
            double h = bevel;
            // Rivets near the plate corners.
            for (double cu : {4.5, plateU - 4.5})
                for (double cv : {4.5, plateV - 4.5}) {
                    double d = std::hypot(pu - cu, pv - cv);
                    if (d < 2.6) h = std::max(h, 1.0 + std::sqrt(1 - (d / 2.6) * (d / 2.6)) * 0.9);
                }
            // One plate in three carries a vent of glowing slots.
            std::uint32_t kind = hash3(col, row, 77) % 3;
            double g = 0;
            if (kind == 0 && pu > 8 && pu < plateU - 8) {
                double slot = std::fmod(pv, 6.0);
                if (pv > 7 && pv < plateV - 7 && slot > 1.5 && slot < 4.0) {
                    h = 0.35;
                    g = 0.6 + 0.4 * std::sin((pu - 8) / (plateU - 16) * M_PI);
                }
            }
            double scratches = tileFbm(x * 1.0, y * 4.0, T, 16, 3, 21);
            h += (tileFbm(x, y, T, 16, 4, 22) - 0.5) * 0.25 + (scratches - 0.5) * 0.12;
            height[i] = h;
            groovev[i] = 1.0 - bevel;
            glow[i] = g;
            grime[i] = tileFbm(x, y, T, 8, 5, 23);
        }
    Layer l = makeLayer(T, T);
    for (int y = 0; y < T; ++y)
        for (int x = 0; x < T; ++x) {
            std::size_t i = std::size_t(y) * T + x;
            Light li = lightAt(height, x, y, 3.0, 30.0);
            double shade = 0.15 + 0.25 * hash01(plateId[i], 3, 31); // each plate a little different
            // Most plates are steel, one in four copper.
            const Gradient& plate = hash3(plateId[i], 5, 33) % 4 == 0 ? copper : metal;
            Rgb c = gradientAt(plate, std::clamp(grime[i] * 0.8 + shade, 0.0, 1.0));
            c = mix(c, groove, groovev[i] * 0.85);
            c = scaled(c, 0.30 + 0.95 * li.diffuse);
            c = mix(c, Rgb{1.0, 0.95, 0.85}, li.specular * 0.6);
            if (glow[i] > 0) c = mix(c, glowColour, glow[i]);
            paint(l, x, y, clampRgb(c), 1.0);
        }
    return Picture{"p3_txtr.raw", T, T, false, toRgb565(l)};
}

Picture makeWaterBackground(const Studio& st) {
    const int W = 320, H = 200;
    Gradient stones = settingGradient(st.look, "water.stones");
    Rgb sand = settingColour(st.look, "water.sand");
    Rgb tint = settingColour(st.look, "water.tint");
    Rgb caustic = settingColour(st.look, "water.caustic");
    constexpr int cell = 24;
    const int cellsX = W / cell + 2, cellsY = H / cell + 2;
    // Pebbles: one rounded, slightly turned ellipse per cell of a jittered grid; the nearest
    // one (in its own scale) owns a pixel, and pixels outside every pebble are sand.
    struct Pebble {
        double x, y, rx, ry, angle;
    };
    auto pebble = [&](int cx, int cy) {
        Pebble p;
        p.x = (cx + 0.2 + 0.6 * hash01(cx, cy, 41)) * cell;
        p.y = (cy + 0.2 + 0.6 * hash01(cx, cy, 42)) * cell;
        p.rx = cell * (0.55 + 0.25 * hash01(cx, cy, 43));
        p.ry = p.rx * (0.65 + 0.25 * hash01(cx, cy, 44));
        p.angle = (hash01(cx, cy, 45) - 0.5) * 1.6;
        return p;
    };
    std::vector<double> height(std::size_t(W) * H);
    std::vector<int> owner(std::size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int gx = x / cell, gy = y / cell;
            double best = 1e9;
            int who = -1;
            for (int cy = gy - 1; cy <= gy + 1; ++cy)
                for (int cx = gx - 1; cx <= gx + 1; ++cx) {
                    if (cx < -1 || cy < -1 || cx > cellsX || cy > cellsY) continue;
                    Pebble p = pebble(cx, cy);
                    double dx = x - p.x, dy = y - p.y;
                    double u = (dx * std::cos(p.angle) + dy * std::sin(p.angle)) / p.rx;
                    double v = (-dx * std::sin(p.angle) + dy * std::cos(p.angle)) / p.ry;
                    double e = std::sqrt(u * u + v * v);
                    if (e < best) best = e, who = (cy + 2) * 64 + cx + 2;
                }
            std::size_t i = std::size_t(y) * W + x;
            double grain = (tileFbm(x, y, 256, 64, 2, 46) - 0.5) * 0.5;
            if (best < 1.0) {
                height[i] = std::sqrt(1 - best * best) * 7.0 + grain;
                owner[i] = who;
            } else {
                height[i] = grain - 0.5;
                owner[i] = -1;
            }
        }
    Layer l = makeLayer(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            std::size_t i = std::size_t(y) * W + x;
            auto h = [&](int u, int v) {
                return height[std::size_t(std::clamp(v, 0, H - 1)) * W + std::clamp(u, 0, W - 1)];
            };
            double nx = (h(x - 1, y) - h(x + 1, y)), ny = (h(x, y - 1) - h(x, y + 1)), nz = 1.6;
            double len = std::sqrt(nx * nx + ny * ny + nz * nz);
            double lit = (nx * -0.45 + ny * -0.55 + nz * 0.7) / len;
            double diffuse = std::max(0.0, lit / 0.9);
            Rgb c;
            if (owner[i] < 0) {
                // Sand, darker in the hollows between pebbles.
                c = scaled(sand, 0.45 + 0.35 * tileFbm(x, y, 256, 64, 2, 44));
            } else {
                double pick = hash01(owner[i], 1, 47);
                c = gradientAt(stones, pick);
                // Fine mineral grain and the odd band of quartz.
                double speck = tileFbm(x * 1.0, y * 1.0, 256, 128, 1, 48);
                c = scaled(c, 0.9 + (speck - 0.5) * 0.35);
                if (hash3(owner[i], 2, 49) % 4 == 0) {
                    double band = std::sin((x * 0.6 + y * 0.8) * 0.35 + pick * 20);
                    c = mix(c, Rgb{0.9, 0.88, 0.84}, std::clamp((band - 0.75) * 3.0, 0.0, 0.6));
                }
                c = scaled(c, 0.3 + 0.9 * diffuse);
                // Wet highlight toward the light.
                c = mix(c, Rgb{1, 1, 1}, std::pow(std::max(0.0, lit), 40.0) * 0.6);
            }
            // Water: depth tint toward the bottom of the picture, caustic light on top.
            double depth = 0.12 + 0.28 * double(y) / H;
            c = mix(c, tint, depth);
            double n1 = tileFbm(x * 1.3, y * 1.9, 256, 8, 3, 48);
            double n2 = tileFbm(x * 1.3 + 40, y * 1.9 + 17, 256, 8, 3, 49);
            double lines = std::exp(-std::pow((n1 - n2) * 14.0, 2));
            c = mix(c, caustic, lines * 0.45);
            paint(l, x, y, clampRgb(c), 1.0);
        }
    return Picture{"p2_bgpic.raw", W, H, false, toRgb565(l)};
}
