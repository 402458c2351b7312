// Preview stills of the pictures as the show's parts draw them (lens, water, tunnel), so
// that the pictures can be judged where they will be seen.
#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int SW = 320, SH = 200;
using Frame = std::vector<std::uint16_t>;

std::uint16_t scalePixel(std::uint16_t p, int level) {
    int r = p >> 11, g = (p >> 6) & 31, b = p & 31;
    return std::uint16_t(((level * r) / 32) << 11 | ((level * g) / 16) << 5 | (level * b) / 32);
}

void blend(Frame& f, const Picture& pic, int x, int y, int alpha, int rows = -1) {
    int h = rows < 0 ? pic.h : rows;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < pic.w; ++i) {
            std::uint16_t s = pic.pixels[std::size_t(j) * pic.w + i];
            int fx = x + i, fy = y + j;
            if (s == colourKey || fx < 0 || fy < 0 || fx >= SW || fy >= SH) continue;
            std::uint16_t& d = f[std::size_t(fy) * SW + fx];
            d = std::uint16_t(scalePixel(s, alpha) + scalePixel(d, 31 - alpha));
        }
}

void copyKeyed(Frame& f, const std::uint16_t* pic, int w, int h, int x, int y, bool shadow) {
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            std::uint16_t s = pic[j * w + i];
            int fx = x + i, fy = y + j;
            if (s == colourKey || fx >= SW || fy >= SH) continue;
            std::uint16_t& d = f[std::size_t(fy) * SW + fx];
            d = shadow ? std::uint16_t((d & 0xF7DF) >> 1) : s;
        }
}

Frame lens(const Picture& tex, int k) {
    Frame f(SW * SH);
    int px = int((1 + std::cos(k * M_PI / 128)) * 96), py = int((1 + std::sin(k * M_PI / 128)) * 100);
    int du = int((1 + std::cos(k * M_PI / 128)) * 127) & 255,
        dv = int((1 + std::sin(k * M_PI / 128)) * 127) & 255;
    for (int r = 0; r < SH; ++r)
        for (int c = 0; c < SW; ++c) {
            int i = c + px, j = r + py;
            double C = 0.5 + (1 + std::sin(j * M_PI * 0.005)) * (1 + std::sin(i * M_PI / 256)) / 8;
            int u = int(i * C + 128 * (1 - C)) & 255, v = int(j * C + 128 * (1 - C)) & 255;
            f[r * SW + c] = tex.pixels[((v + dv) & 255) * 256 + ((u + du) & 255)];
        }
    return f;
}

Frame tunnel(const Picture& tex, int du, int dv) {
    Frame f(SW * SH);
    for (int r = 0; r < SH; ++r)
        for (int c = 0; c < SW; ++c) {
            double x = c - 160, y = r - 100, t = std::atan2(y, x), d = std::sqrt(x * x + y * y);
            int a = 0, z = 0;
            if (d > 0) a = int(t * 128 / M_PI) & 255, z = int((4000 + 2000 * std::cos(3 * t)) / d) & 255;
            double m = std::max(0.0, 1 - std::sqrt((x / 180) * (x / 180) + (y / 180) * (y / 180)));
            int level = int(m * 31);
            std::uint16_t p = tex.pixels[((a + dv) & 255) * 256 + ((z + du) & 255)];
            f[r * SW + c] = scalePixel(p, 31 - level);
        }
    return f;
}

const Picture& find(const std::vector<Picture>& all, const char* name) {
    for (const Picture& p : all)
        if (p.name == name) return p;
    return all.front();
}

} // namespace

bool writeScenePreviews(const std::vector<Picture>& all, const std::string& dir) {
    bool ok = true;
    Frame a = lens(find(all, "p1_txtr.raw"), 1);
    blend(a, find(all, "p1_pres.raw"), 35, 85, 31);
    ok &= writePreview(dir + "/scene_caption.png", a, SW, SH, false);
    Frame b = lens(find(all, "p1_txtr.raw"), 90);
    blend(b, find(all, "p1_morva.raw"), 57, 51, 15);
    blend(b, find(all, "p1_morva.raw"), 59, 53, 31);
    ok &= writePreview(dir + "/scene_title.png", b, SW, SH, false);
    const char* pairs[3][2] = {
        {"p2_tco~1.raw", "p2_aco~1.raw"}, {"p2_tmu~1.raw", "p2_amu~1.raw"}, {"p2_tgfx.raw", "p2_agfx.raw"}};
    const int nameRows[3] = {176, 172, 126};
    for (int k = 0; k < 3; ++k) {
        Frame w = find(all, "p2_bgpic.raw").pixels;
        blend(w, find(all, pairs[k][0]), 10, 32, 30);
        blend(w, find(all, pairs[k][1]), 52, nameRows[k], 30);
        ok &= writePreview(dir + "/scene_credits" + std::to_string(k + 1) + ".png", w, SW, SH, false);
    }
    const Picture& flute = find(all, "fluteboy.dat");
    Frame t = tunnel(find(all, "p3_txtr.raw"), 40, 20);
    copyKeyed(t, flute.pixels.data(), fluteWidth, fluteHeight, 229, 86, true);
    copyKeyed(t, flute.pixels.data(), fluteWidth, fluteHeight, 234, 91, false);
    ok &= writePreview(dir + "/scene_tunnel.png", t, SW, SH, false);
    for (std::uint16_t& p : t)
        p = scalePixel(p, 8);
    blend(t, find(all, "p3_zynlg.raw"), 50, 45, 28);
    ok &= writePreview(dir + "/scene_end.png", t, SW, SH, false);
    return ok;
}
