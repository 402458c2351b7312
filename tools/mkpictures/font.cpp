#include "font.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

bool loadFont(Font& font, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "mkpictures: cannot open font %s\n", path.c_str());
        return false;
    }
    font.data.clear();
    unsigned char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        font.data.insert(font.data.end(), buf, buf + n);
    std::fclose(f);
    int offset = stbtt_GetFontOffsetForIndex(font.data.data(), 0);
    if (offset < 0 || !stbtt_InitFont(&font.info, font.data.data(), offset)) {
        std::fprintf(stderr, "mkpictures: %s is not a usable TrueType font\n", path.c_str());
        return false;
    }
    return true;
}

// Decodes UTF-8 so names with accents come out right.
static std::vector<int> codepoints(const std::string& s) {
    std::vector<int> out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        int cp = c, extra = 0;
        if (c >= 0xF0)
            cp = c & 7, extra = 3;
        else if (c >= 0xE0)
            cp = c & 15, extra = 2;
        else if (c >= 0xC0)
            cp = c & 31, extra = 1;
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i)
            cp = cp << 6 | (s[i] & 63);
        out.push_back(cp);
    }
    return out;
}

Mask textMask(const Font& font, const std::string& text, const TextStyle& style, int margin) {
    const stbtt_fontinfo* info = &font.info;
    float scale = stbtt_ScaleForPixelHeight(info, float(style.pixelHeight));
    float sx = float(scale * style.xScale);
    int ascent, descent, gap;
    stbtt_GetFontVMetrics(info, &ascent, &descent, &gap);
    double baseline = ascent * scale;
    std::vector<int> cps = codepoints(text);

    // First pass for the width, second to draw.
    double pen = 0;
    for (std::size_t i = 0; i < cps.size(); ++i) {
        int adv, lsb;
        stbtt_GetCodepointHMetrics(info, cps[i], &adv, &lsb);
        pen += adv * sx + style.spacing;
        if (i + 1 < cps.size()) pen += stbtt_GetCodepointKernAdvance(info, cps[i], cps[i + 1]) * sx;
    }
    int pad = 4 + int(std::ceil(std::abs(style.shear) * style.pixelHeight));
    int w = int(std::ceil(pen)) + 2 * pad, h = int(std::ceil(style.pixelHeight)) + 2 * pad;
    Mask canvas = makeMask(w, h);
    pen = pad;
    for (std::size_t i = 0; i < cps.size(); ++i) {
        int adv, lsb;
        stbtt_GetCodepointHMetrics(info, cps[i], &adv, &lsb);
        float shiftX = float(pen - std::floor(pen));
        int x0, y0, x1, y1;
        stbtt_GetCodepointBitmapBoxSubpixel(info, cps[i], sx, scale, shiftX, 0, &x0, &y0, &x1, &y1);
        int gw = x1 - x0, gh = y1 - y0;
        if (gw > 0 && gh > 0) {
            std::vector<unsigned char> g(std::size_t(gw) * gh);
            stbtt_MakeCodepointBitmapSubpixel(info, g.data(), gw, gh, gw, sx, scale, shiftX, 0, cps[i]);
            int ox = int(std::floor(pen)) + x0, oy = pad + int(baseline) + y0;
            for (int y = 0; y < gh; ++y)
                for (int x = 0; x < gw; ++x) {
                    int cx = ox + x, cy = oy + y;
                    if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
                    double& v = canvas.v[std::size_t(cy) * w + cx];
                    v = std::min(1.0, v + g[std::size_t(y) * gw + x] / 255.0);
                }
        }
        pen += adv * sx + style.spacing;
        if (i + 1 < cps.size()) pen += stbtt_GetCodepointKernAdvance(info, cps[i], cps[i + 1]) * sx;
    }

    // Italic slant: rows above the baseline move right.
    if (style.shear != 0) {
        Mask sheared = makeMask(w, h);
        for (int y = 0; y < h; ++y) {
            double shift = (pad + baseline - y) * style.shear;
            for (int x = 0; x < w; ++x)
                sheared.v[std::size_t(y) * w + x] = maskSample(canvas, x - shift, y);
        }
        canvas = sheared;
    }

    int minX = w, minY = h, maxX = -1, maxY = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (canvas.v[std::size_t(y) * w + x] > 0.002) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    if (maxX < 0) return makeMask(2 * margin, 2 * margin);
    Mask out = makeMask(maxX - minX + 1 + 2 * margin, maxY - minY + 1 + 2 * margin);
    for (int y = minY; y <= maxY; ++y)
        for (int x = minX; x <= maxX; ++x)
            out.v[std::size_t(y - minY + margin) * out.w + (x - minX + margin)] =
                canvas.v[std::size_t(y) * w + x];
    return out;
}

Mask fitTextMask(const Font& font, const std::string& text, TextStyle style, int maxW, int maxH, int margin) {
    // Ink size grows in proportion to the pixel height; a few rounds settle the rounding.
    for (int attempt = 0; attempt < 6; ++attempt) {
        Mask m = textMask(font, text, style, 0);
        if (m.w == 0 || m.h == 0) return textMask(font, text, style, margin); // no ink to fit
        double k = std::min(double(maxW) / m.w, double(maxH) / m.h);
        if (k >= 0.99 && k <= 1.0) break;
        style.pixelHeight *= k * 0.999;
    }
    for (;;) {
        Mask m = textMask(font, text, style, margin);
        if ((m.w - 2 * margin <= maxW && m.h - 2 * margin <= maxH) || style.pixelHeight < 4) return m;
        style.pixelHeight *= 0.98;
    }
}
