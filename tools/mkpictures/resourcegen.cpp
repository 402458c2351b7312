#include "resourcegen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

static constexpr int bayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

std::array<std::uint8_t, 768> resourcePalette() {
    std::array<std::uint8_t, 768> p{};
    int n = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b, ++n) {
                p[n * 3] = std::uint8_t(r * 51);
                p[n * 3 + 1] = std::uint8_t(g * 51);
                p[n * 3 + 2] = std::uint8_t(b * 51);
            }
    for (int i = 0; n < 256; ++n, ++i) {
        // Greys that fall between the cube's six, for smooth dark gradients.
        std::uint8_t v = std::uint8_t(4 + i * 251 / 39);
        p[n * 3] = p[n * 3 + 1] = p[n * 3 + 2] = v;
    }
    return p;
}

static int nearest(const std::uint8_t* pal, int count, double r, double g, double b) {
    int best = 0;
    double bestD = 1e18;
    for (int i = 0; i < count; ++i) {
        double dr = r - pal[i * 3], dg = g - pal[i * 3 + 1], db = b - pal[i * 3 + 2];
        double d = dr * dr * 0.3 + dg * dg * 0.59 + db * db * 0.11;
        if (d < bestD) bestD = d, best = i;
    }
    return best;
}

std::uint8_t paletteIndex(const std::array<std::uint8_t, 768>& palette, Rgb c, int x, int y) {
    c = clampRgb(c);
    // Dither by a fraction of the cube's step so flat areas stay flat.
    double d = ((bayer4[y & 3][x & 3] + 0.5) / 16.0 - 0.5) * 40.0;
    return std::uint8_t(nearest(palette.data(), 256, c.r * 255 + d, c.g * 255 + d, c.b * 255 + d));
}

static constexpr std::uint8_t vga16[48] = {
    0,   0,   0,   128, 0, 0, 0, 128, 0, 128, 128, 0, 0, 0, 128, 128, 0, 128, 0, 128, 128, 192, 192, 192,
    128, 128, 128, 255, 0, 0, 0, 255, 0, 255, 255, 0, 0, 0, 255, 255, 0, 255, 0, 255, 255, 255, 255, 255};

ProgramResources makeProgramResources(const Studio& st) {
    const int S = superSample;
    ProgramResources r;
    r.palette = resourcePalette();

    // Logo bitmap: the title on a dark blue panel, with the system's name underneath.
    const int W = 200, H = 64;
    Layer big = makeLayer(W * S, H * S);
    Gradient panel = settingGradient(st.look, "bitmap.background");
    for (int y = 0; y < big.h; ++y)
        for (int x = 0; x < big.w; ++x) {
            double glow = std::exp(-std::pow((x - big.w * 0.5) / (big.w * 0.35), 2) -
                                   std::pow((y - big.h * 0.4) / (big.h * 0.5), 2));
            paint(big, x, y, mix(gradientAt(panel, double(y) / big.h), Rgb{0.35, 0.45, 0.9}, glow * 0.35),
                  1.0);
        }
    TextLook title = settingLook(st.look, "title");
    title.shadowDx = 2, title.shadowDy = 2;
    TextStyle ts;
    ts.xScale = 0.8;
    ts.shear = 0.12;
    ts.spacing = 2 * S;
    ts.pixelHeight = 60 * S;
    Mask ink = fitTextMask(st.sansBold, settingText(st.look, "title.text"), ts, 170 * S, 38 * S, 0);
    paintStyledText(big, ink, (W * S - ink.w) / 2, 5 * S, title);
    TextLook sub = settingLook(st.look, "bitmap.subtitle");
    TextStyle ss;
    ss.pixelHeight = 11 * S;
    ss.spacing = 1 * S;
    Mask subInk = fitTextMask(st.sans, settingText(st.look, "bitmap.subtitle.text"), ss, 184 * S, 9 * S, 0);
    paintStyledText(big, subInk, (W * S - subInk.w) / 2, 50 * S, sub);
    Layer bmp = downsample(big, S);
    r.bitmap.resize(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            r.bitmap[y * W + x] = paletteIndex(r.palette, bmp.rgb[y * W + x], x, y);

    // Icon: a bevelled round tile with the group's initial.
    const int I = 32;
    Layer ibig = makeLayer(I * S, I * S);
    Gradient tile = settingGradient(st.look, "icon.tile");
    Rgb edge = settingColour(st.look, "icon.edge");
    for (int y = 0; y < ibig.h; ++y)
        for (int x = 0; x < ibig.w; ++x) {
            double cx = x + 0.5 - ibig.w / 2.0, cy = y + 0.5 - ibig.h / 2.0;
            double half = ibig.w / 2.0 - 1.0 * S, radius = 7.0 * S;
            double qx = std::max(std::abs(cx) - (half - radius), 0.0),
                   qy = std::max(std::abs(cy) - (half - radius), 0.0);
            double d = std::sqrt(qx * qx + qy * qy) - radius; // rounded square
            double a = std::clamp(0.5 - d, 0.0, 1.0);
            if (a <= 0) continue;
            Rgb c = gradientAt(tile, (cx + cy) / (2.0 * ibig.w) + 0.5);
            if (d > -1.5 * S) c = edge;
            paint(ibig, x, y, c, a);
        }
    TextLook letter = settingLook(st.look, "icon.letter");
    TextStyle ls;
    ls.pixelHeight = 30 * S;
    Mask lInk = fitTextMask(st.sansBold, settingText(st.look, "icon.text"), ls, 20 * S, 20 * S, 0);
    paintStyledText(ibig, lInk, (ibig.w - lInk.w) / 2 - S / 2, (ibig.h - lInk.h) / 2 - S / 2, letter);
    Layer icon = downsample(ibig, S);
    r.iconArgb.resize(I * I);
    r.icon256.resize(I * I);
    r.icon16.resize(I * I);
    r.iconMask.resize(I * I);
    for (int y = 0; y < I; ++y)
        for (int x = 0; x < I; ++x) {
            int i = y * I + x;
            bool opaque = icon.alpha[i] >= 0.5;
            Rgb c = clampRgb(icon.rgb[i]);
            r.iconMask[i] = opaque ? 0 : 1;
            r.icon256[i] = opaque ? paletteIndex(r.palette, c, x, y) : 0;
            double d = ((bayer4[y & 3][x & 3] + 0.5) / 16.0 - 0.5) * 64.0;
            r.icon16[i] =
                opaque ? std::uint8_t(nearest(vga16, 16, c.r * 255 + d, c.g * 255 + d, c.b * 255 + d)) : 0;
            std::uint32_t argb = std::uint32_t(std::lround(c.r * 255)) << 16 |
                                 std::uint32_t(std::lround(c.g * 255)) << 8 |
                                 std::uint32_t(std::lround(c.b * 255));
            r.iconArgb[i] = opaque ? (0xFF000000u | argb) : 0;
        }
    return r;
}

template <typename T>
static void writeArray(std::FILE* f, const char* decl, const T* data, std::size_t n, int perLine,
                       bool hex32) {
    std::fprintf(f, "%s = {\n", decl);
    for (std::size_t i = 0; i < n; ++i) {
        if (i % perLine == 0) std::fputs("    ", f);
        if (hex32)
            std::fprintf(f, "0x%08Xu,", unsigned(data[i]));
        else
            std::fprintf(f, "%u,", unsigned(data[i]));
        std::fputc((i % perLine == std::size_t(perLine - 1) || i + 1 == n) ? '\n' : ' ', f);
    }
    std::fputs("};\n\n", f);
}

bool writeResourceSource(const std::string& path, const ProgramResources& r) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::fputs("// Generated by mkpictures from content/pictures.txt; do not edit.\n", f);
    std::fputs("#include \"demo/demo_resources.h\"\n\n", f);
    writeArray(f, "const std::uint8_t demoBitmapPixels[demoBitmapWidth * demoBitmapHeight]", r.bitmap.data(),
               r.bitmap.size(), 20, false);
    writeArray(f, "const std::uint8_t demoPalette[256 * 3]", r.palette.data(), r.palette.size(), 24, false);
    writeArray(f, "const std::uint32_t demoIconArgb[demoIconSize * demoIconSize]", r.iconArgb.data(),
               r.iconArgb.size(), 8, true);
    writeArray(f, "const std::uint8_t demoIcon256[demoIconSize * demoIconSize]", r.icon256.data(),
               r.icon256.size(), 32, false);
    writeArray(f, "const std::uint8_t demoIcon16[demoIconSize * demoIconSize]", r.icon16.data(),
               r.icon16.size(), 32, false);
    writeArray(f, "const std::uint8_t demoIcon16Palette[16 * 3]", vga16, 48, 24, false);
    writeArray(f, "const std::uint8_t demoIconMask[demoIconSize * demoIconSize]", r.iconMask.data(),
               r.iconMask.size(), 32, false);
    return std::fclose(f) == 0;
}
