// Text pictures: the warning screen, the caption, the title and group logos, the credits.
#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

TextLook settingLook(const Settings& s, const std::string& p) {
    TextLook look;
    look.fill = settingGradient(s, p + ".fill");
    look.outline = settingColour(s, p + ".outline");
    look.outlineRadius = settingNumber(s, p + ".outline_radius", 1.0, 0, 8);
    if (s.values.count(p + ".shadow")) {
        look.shadow = settingColour(s, p + ".shadow");
        look.shadowOpacity = settingNumber(s, p + ".shadow_opacity", 0.8, 0, 1);
        std::istringstream off(settingText(s, p + ".shadow_offset"));
        std::string rest;
        if (!(off >> look.shadowDx >> look.shadowDy) || off >> rest || std::abs(look.shadowDx) > 16 ||
            std::abs(look.shadowDy) > 16) {
            std::fprintf(stderr, "%s: \"%s.shadow_offset\" is not two whole numbers from -16 to 16\n",
                         s.source.c_str(), p.c_str());
            markSettingsFailed();
        }
    }
    look.bevel = settingNumber(s, p + ".bevel", 0.0, 0, 4);
    if (s.values.count(p + ".glow")) {
        look.glow = settingColour(s, p + ".glow");
        look.glowRadius = int(settingNumber(s, p + ".glow_radius", 3, 0, 32));
        look.glowOpacity = settingNumber(s, p + ".glow_opacity", 0.6, 0, 1);
    }
    return look;
}

static Mask placed(const Mask& ink, int w, int h, int ox, int oy) {
    Mask m = makeMask(w, h);
    for (int y = 0; y < ink.h; ++y)
        for (int x = 0; x < ink.w; ++x) {
            int tx = x + ox, ty = y + oy;
            if (tx >= 0 && ty >= 0 && tx < w && ty < h)
                m.v[std::size_t(ty) * w + tx] = ink.v[std::size_t(y) * ink.w + x];
        }
    return m;
}

void paintStyledText(Layer& layer, const Mask& inkIn, int ox, int oy, const TextLook& look) {
    const int S = superSample;
    Mask ink = placed(inkIn, layer.w, layer.h, ox, oy);
    Mask outline = look.outlineRadius > 0 ? dilate(ink, look.outlineRadius * S) : ink;
    if (look.glowOpacity > 0) {
        Mask glow = blur(dilate(outline, look.glowRadius * S * 0.5), look.glowRadius * S / 2 + 1);
        paintMask(
            layer, glow, 0, 0, [&](int, int) { return look.glow; }, look.glowOpacity);
    }
    if (look.shadowOpacity > 0) {
        Mask sh = shifted(outline, look.shadowDx * S, look.shadowDy * S);
        paintMask(
            layer, sh, 0, 0, [&](int, int) { return look.shadow; }, look.shadowOpacity);
    }
    paintMask(layer, outline, 0, 0, [&](int, int) { return look.outline; });

    int top = layer.h, bottom = 0;
    for (int y = 0; y < layer.h; ++y)
        for (int x = 0; x < layer.w; ++x)
            if (ink.v[std::size_t(y) * layer.w + x] > 0.5)
                top = std::min(top, y), bottom = std::max(bottom, y);
    double span = std::max(1, bottom - top);
    Mask height = blur(ink, std::max(1, int(1.2 * S)));
    paintMask(layer, ink, 0, 0, [&](int x, int y) {
        Rgb c = gradientAt(look.fill, (y - top) / span);
        if (look.bevel > 0) {
            // Light from the upper left: the slope of the softened ink gives the bevel.
            double d = S;
            double slope = (maskAt(height, x - int(d), y - int(d)) - maskAt(height, x + int(d), y + int(d)));
            double l = std::clamp(slope * 2.2 * look.bevel, -1.0, 1.0);
            c = l > 0 ? mix(c, Rgb{1, 1, 1}, l) : scaled(c, 1 + l * 0.8);
        }
        return c;
    });
}

Layer styledTextPicture(const Font& font, const std::string& text, TextStyle style, const TextLook& look,
                        int w, int h) {
    const int S = superSample;
    int padL = int(std::ceil(look.outlineRadius + std::max(0, -look.shadowDx))) + 1;
    int padR = int(std::ceil(look.outlineRadius + std::max(0, look.shadowDx))) + 1;
    int padT = int(std::ceil(look.outlineRadius + std::max(0, -look.shadowDy))) + 1;
    int padB = int(std::ceil(look.outlineRadius + std::max(0, look.shadowDy))) + 1;
    int glowPad = look.glowOpacity > 0 ? look.glowRadius / 2 : 0;
    padL += glowPad, padR += glowPad, padT += glowPad, padB += glowPad;
    style.pixelHeight *= S;
    style.spacing *= S;
    Mask ink = fitTextMask(font, text, style, (w - padL - padR) * S, (h - padT - padB) * S, 0);
    Layer big = makeLayer(w * S, h * S);
    // Centre the ink in the room the shadow leaves.
    int ox = padL * S + ((w - padL - padR) * S - ink.w) / 2;
    int oy = padT * S + ((h - padT - padB) * S - ink.h) / 2;
    paintStyledText(big, ink, ox, oy, look);
    return downsample(big, S);
}

static Picture keyedPicture(const std::string& name, const Layer& l, Rgb ground) {
    return Picture{name, l.w, l.h, true, toKeyedRgb565(l, ground)};
}

Picture makeCaption(const Studio& st, Rgb ground) {
    TextStyle style;
    style.shear = settingNumber(st.look, "caption.slant", 0.2, -1, 1);
    style.spacing = settingNumber(st.look, "caption.spacing", 1.0, -4, 16);
    Layer l = styledTextPicture(st.serifBold, settingText(st.look, "caption.text"), style,
                                settingLook(st.look, "caption"), 247, 35);
    return keyedPicture("p1_pres.raw", l, ground);
}

Picture makeTitleLogo(const Studio& st, Rgb ground) {
    const int S = superSample, W = 204, H = 97;
    TextLook look = settingLook(st.look, "title");
    TextStyle style;
    style.xScale = settingNumber(st.look, "title.squeeze", 0.72, 0.2, 4);
    style.shear = settingNumber(st.look, "title.slant", 0.12, -1, 1);
    style.spacing = settingNumber(st.look, "title.spacing", 2, -4, 16) * S;
    style.pixelHeight = 90 * S;
    int pad = int(look.outlineRadius) + std::max(look.shadowDx, look.shadowDy) + 2;
    Mask ink = fitTextMask(st.sansBold, settingText(st.look, "title.text"), style, (W - 2 * pad) * S,
                           (H - 2 * pad - 10) * S, 0);
    Layer big = makeLayer(W * S, H * S);

    // A swoosh under the letters: a thick arc that thins toward both ends.
    Gradient swoosh = settingGradient(st.look, "title.swoosh");
    Mask arc = makeMask(W * S, H * S);
    for (int y = 0; y < arc.h; ++y)
        for (int x = 0; x < arc.w; ++x) {
            double u = double(x) / arc.w;
            double centre = (H - 9 - 12 * std::sin(u * M_PI)) * S;
            double thick = (5.5 * std::sin(u * M_PI) - 0.8) * S; // vanishes before the edges
            double d = std::abs(y - centre);
            arc.v[std::size_t(y) * arc.w + x] = std::clamp(thick - d, 0.0, 1.0);
        }
    TextLook arcLook = look;
    arcLook.fill = swoosh;
    arcLook.bevel = 0.5;
    arcLook.glowOpacity = 0;
    paintStyledText(big, arc, 0, 0, arcLook);

    int ox = pad * S + ((W - 2 * pad) * S - ink.w) / 2;
    int oy = pad * S;
    paintStyledText(big, ink, ox, oy, look);
    return keyedPicture("p1_morva.raw", downsample(big, S), ground);
}

Picture makeGroupLogo(const Studio& st, Rgb ground) {
    const int S = superSample, W = 220, H = 106;
    TextLook look = settingLook(st.look, "group");
    TextStyle style;
    style.xScale = settingNumber(st.look, "group.squeeze", 1.0, 0.2, 4);
    style.shear = settingNumber(st.look, "group.slant", 0.0, -1, 1);
    style.spacing = settingNumber(st.look, "group.spacing", 4, -4, 16) * S;
    style.pixelHeight = 90 * S;
    Layer big = makeLayer(W * S, H * S);

    // An orbit ring around the letters: drawn whole behind them, then its front half again
    // over them. Both come from one painted ring, so the halves meet without a seam.
    Gradient ringFill = settingGradient(st.look, "group.ring");
    const double cx = W * S / 2.0, cy = H * S * 0.5, rx = (W / 2.0 - 6) * S, ry = (H * 0.30) * S,
                 tilt = -0.18;
    Mask ring = makeMask(W * S, H * S);
    Mask front = makeMask(W * S, H * S);
    for (int y = 0; y < ring.h; ++y)
        for (int x = 0; x < ring.w; ++x) {
            double dx = x - cx, dy = y - cy;
            double rxp = dx * std::cos(tilt) + dy * std::sin(tilt);
            double ryp = -dx * std::sin(tilt) + dy * std::cos(tilt);
            double e = std::sqrt((rxp / rx) * (rxp / rx) + (ryp / ry) * (ryp / ry));
            double dist = std::abs(e - 1.0) * ry;
            double thick = (0.8 + 2.2 * (0.5 + 0.5 * (ryp / ry))) * S; // thicker toward the viewer
            ring.v[std::size_t(y) * ring.w + x] = std::clamp(thick - dist, 0.0, 1.0);
            front.v[std::size_t(y) * ring.w + x] = std::clamp(ryp / S + 0.5, 0.0, 1.0);
        }
    TextLook ringLook = look;
    ringLook.fill = ringFill;
    ringLook.glowOpacity = 0;
    ringLook.shadowOpacity = 0;
    ringLook.outlineRadius = 0.8;
    Layer ringLayer = makeLayer(W * S, H * S);
    paintStyledText(ringLayer, ring, 0, 0, ringLook);
    auto paintRing = [&](bool frontOnly) {
        for (std::size_t i = 0; i < ring.v.size(); ++i) {
            double a = ringLayer.alpha[i] * (frontOnly ? front.v[i] : 1.0);
            paint(big, int(i % ring.w), int(i / ring.w), ringLayer.rgb[i], a);
        }
    };
    paintRing(false);

    int pad = int(look.outlineRadius) + std::max(look.shadowDx, look.shadowDy) + look.glowRadius / 2 + 2;
    Mask ink = fitTextMask(st.sansBold, settingText(st.look, "group.text"), style, (W - 2 * pad - 40) * S,
                           (H - 2 * pad - 22) * S, 0);
    int ox = (W * S - ink.w) / 2, oy = pad * S + 4 * S;
    paintStyledText(big, ink, ox, oy, look);
    paintRing(true);

    // The small subtitle under the letters.
    TextLook subLook = settingLook(st.look, "group.subtitle");
    TextStyle sub;
    sub.spacing = settingNumber(st.look, "group.subtitle.spacing", 3, -4, 16) * S;
    sub.pixelHeight = 14 * S;
    Mask subInk =
        fitTextMask(st.sansBold, settingText(st.look, "group.subtitle.text"), sub, (W - 60) * S, 10 * S, 0);
    paintStyledText(big, subInk, (W * S - subInk.w) / 2, (H - 14) * S, subLook);
    return keyedPicture("p3_zynlg.raw", downsample(big, S), ground);
}

std::vector<Picture> makeCredits(const Studio& st, Rgb ground) {
    struct Slot {
        const char* role;
        const char* titleFile;
        int tw, th;
        const char* nameFile;
        int nw, nh;
    };
    static constexpr Slot slots[] = {
        {"code", "p2_tco~1.raw", 148, 36, "p2_aco~1.raw", 67, 23},
        {"music", "p2_tmu~1.raw", 123, 34, "p2_amu~1.raw", 193, 27},
        {"graphics", "p2_tgfx.raw", 80, 38, "p2_agfx.raw", 207, 73},
    };
    TextLook titleLook = settingLook(st.look, "credit.title");
    TextLook nameLook = settingLook(st.look, "credit.name");
    std::vector<Picture> out;
    for (const Slot& s : slots) {
        TextStyle ts;
        ts.shear = settingNumber(st.look, "credit.title.slant", 0.2, -1, 1);
        ts.pixelHeight = 40;
        ts.xScale = settingNumber(st.look, std::string("credit.") + s.role + ".title_squeeze", 1.0, 0.2, 4);
        std::string title = settingText(st.credits, std::string(s.role) + ".title");
        out.push_back(keyedPicture(
            s.titleFile, styledTextPicture(st.serifBold, title, ts, titleLook, s.tw, s.th), ground));

        TextStyle ns;
        ns.spacing = settingNumber(st.look, "credit.name.spacing", 1, -4, 16);
        ns.pixelHeight = 40;
        ns.xScale = settingNumber(st.look, std::string("credit.") + s.role + ".name_squeeze", 1.0, 0.2, 4);
        std::string name = settingText(st.credits, std::string(s.role) + ".name");
        out.push_back(
            keyedPicture(s.nameFile, styledTextPicture(st.sansBold, name, ns, nameLook, s.nw, s.nh), ground));
    }
    return out;
}

Picture makeWarning(const Studio& st) {
    const int S = superSample, W = 320, H = 200;
    Layer big = makeLayer(W * S, H * S);
    Gradient bg = settingGradient(st.look, "warning.background");
    Rgb frame = settingColour(st.look, "warning.frame");
    for (int y = 0; y < big.h; ++y)
        for (int x = 0; x < big.w; ++x) {
            double fy = double(y) / big.h, fx = double(x) / big.w - 0.5;
            Rgb c = gradientAt(bg, fy);
            // Faint scanlines and a darker rim, like an old monitor.
            double vignette = 1.0 - 0.5 * (fx * fx * 2 + (fy - 0.5) * (fy - 0.5) * 2);
            c = scaled(c, vignette * ((y / S) % 2 ? 0.88 : 1.0));
            paint(big, x, y, c, 1.0);
        }
    // Double frame lines.
    for (int inset : {6, 9}) {
        double w = inset == 6 ? 1.0 : 0.5;
        for (int y = 0; y < big.h; ++y)
            for (int x = 0; x < big.w; ++x) {
                double dx = std::min(std::abs(x - inset * S), std::abs(x - (W - inset) * S));
                double dy = std::min(std::abs(y - inset * S), std::abs(y - (H - inset) * S));
                bool insideX = x >= inset * S && x <= (W - inset) * S;
                bool insideY = y >= inset * S && y <= (H - inset) * S;
                double d = 1e9;
                if (insideY) d = std::min(d, dx);
                if (insideX) d = std::min(d, dy);
                double a = std::clamp(w * S - d, 0.0, 1.0);
                if (a > 0) paint(big, x, y, frame, a * (inset == 6 ? 0.9 : 0.5));
            }
    }

    TextLook head = settingLook(st.look, "warning.heading");
    TextStyle hs;
    hs.spacing = settingNumber(st.look, "warning.heading.spacing", 6, -4, 16) * S;
    hs.pixelHeight = 40 * S;
    Mask headInk =
        fitTextMask(st.sansBold, settingText(st.look, "warning.heading.text"), hs, 220 * S, 30 * S, 0);
    paintStyledText(big, headInk, (W * S - headInk.w) / 2, 22 * S, head);

    TextLook body = settingLook(st.look, "warning.body");
    TextStyle bs;
    bs.pixelHeight = settingNumber(st.look, "warning.body.size", 11, 4, 40) * S;
    int y = 68;
    for (int i = 1;; ++i) {
        std::string key = "warning.line" + std::to_string(i);
        if (!st.look.values.count(key)) break;
        std::string text = st.look.values.at(key);
        if (!text.empty() && text != "-") {
            Mask ink = textMask(st.sans, text, bs, 0);
            paintStyledText(big, ink, (W * S - ink.w) / 2, y * S, body);
        }
        y += int(bs.pixelHeight / S) + 3;
    }
    TextLook foot = settingLook(st.look, "warning.footer");
    TextStyle fs;
    fs.pixelHeight = 9 * S;
    fs.spacing = 1 * S;
    Mask footInk = textMask(st.monoBold, settingText(st.look, "warning.footer.text"), fs, 0);
    paintStyledText(big, footInk, (W * S - footInk.w) / 2, 178 * S, foot);
    return Picture{"p1_warn.raw", W, H, false, toRgb565(downsample(big, S))};
}
