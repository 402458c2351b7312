// The flute player: 19 frames of a figure playing a transverse flute, built from rounded
// shapes (signed distance fields) lit from the front right. Every movement is a periodic
// function of the frame's phase, so frame 18 flows into frame 0.
#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

struct V2 {
    double x, y;
};
V2 operator+(V2 a, V2 b) {
    return {a.x + b.x, a.y + b.y};
}
V2 operator-(V2 a, V2 b) {
    return {a.x - b.x, a.y - b.y};
}
V2 operator*(V2 a, double k) {
    return {a.x * k, a.y * k};
}
double dot(V2 a, V2 b) {
    return a.x * b.x + a.y * b.y;
}
double length(V2 a) {
    return std::sqrt(dot(a, a));
}

// Distance to a segment a-b whose radius goes from ra to rb (negative inside).
double sdTaper(V2 p, V2 a, V2 b, double ra, double rb) {
    V2 ab = b - a;
    double t = std::clamp(dot(p - a, ab) / std::max(1e-9, dot(ab, ab)), 0.0, 1.0);
    return length(p - (a + ab * t)) - (ra + (rb - ra) * t);
}
double sdEllipse(V2 p, V2 c, double rx, double ry) {
    // Scaled circle: close enough for the small, round shapes of a figure.
    V2 q = {(p.x - c.x) / rx, (p.y - c.y) / ry};
    return (length(q) - 1.0) * std::min(rx, ry);
}
// Convex polygon with rounded corners (points clockwise on screen).
double sdPolygon(V2 p, const std::vector<V2>& pts, double round) {
    double d = -1e9;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        V2 a = pts[i], b = pts[(i + 1) % pts.size()];
        V2 e = b - a;
        V2 n = {e.y, -e.x};
        double len = length(n);
        d = std::max(d, dot(p - a, n) / len);
    }
    // Outside near a corner the max of the half-planes underestimates; good enough here.
    return d - round;
}

using Sdf = std::function<double(V2)>;

struct Shape {
    Sdf sdf;
    Rgb colour;
    double round;   // depth over which the surface turns toward the viewer
    double shine;   // specular strength
    double rimDark; // darkening of the shape's own edge, so parts read apart
};

struct Pose {
    double sway, bob, tilt, tail, breath;
    int fingers[6]; // 1 = lifted off the hole
};

Pose poseAt(int frame) {
    double ph = 2 * M_PI * frame / fluteFrames;
    Pose p{};
    p.sway = 1.6 * std::sin(ph);
    p.bob = 1.0 * std::sin(2 * ph + 0.6);
    p.tilt = 0.05 * std::sin(ph + 0.4);
    p.tail = 3.5 * std::sin(ph - 0.9);
    p.breath = 0.6 * std::sin(2 * ph);
    // A little melody for the fingers: which holes are open at each step.
    static constexpr int tune[fluteFrames] = {
        0b000000, 0b000001, 0b000011, 0b000111, 0b000011, 0b000001, 0b100000, 0b110000, 0b111000, 0b011000,
        0b001000, 0b000100, 0b000110, 0b000010, 0b100010, 0b110000, 0b010000, 0b000001, 0b000000};
    for (int i = 0; i < 6; ++i)
        p.fingers[i] = (tune[frame] >> i) & 1;
    return p;
}

V2 rotateAbout(V2 p, V2 c, double a) {
    V2 d = p - c;
    return {c.x + d.x * std::cos(a) - d.y * std::sin(a), c.y + d.x * std::sin(a) + d.y * std::cos(a)};
}

std::vector<Shape> figure(const Pose& ps, const Studio& st) {
    Rgb skin = settingColour(st.look, "flute.skin");
    Rgb hair = settingColour(st.look, "flute.hair");
    Rgb coat = settingColour(st.look, "flute.coat");
    Rgb sleeve = settingColour(st.look, "flute.sleeve");
    Rgb trim = settingColour(st.look, "flute.trim");
    Rgb silver = settingColour(st.look, "flute.silver");
    Rgb dark = settingColour(st.look, "flute.line");
    Rgb scarf = settingColour(st.look, "flute.scarf");
    Rgb blush = mix(skin, Rgb{0.95, 0.45, 0.45}, 0.45);

    const double sx = ps.sway, by = ps.bob;
    V2 neck{52 + sx * 0.8, 42 + by * 0.5};
    // The head tilts toward the flute; the flute follows the head.
    auto hp = [=](V2 p) { return rotateAbout(p + V2{sx, by}, neck, ps.tilt - 0.10); };
    V2 mouth = hp({42, 32});
    V2 fluteEnd = rotateAbout(mouth + V2{-36, 11}, mouth, ps.tilt * 0.5);
    V2 fluteDir = (fluteEnd - mouth) * (1.0 / length(fluteEnd - mouth));
    auto onFlute = [=](double along) { return mouth + fluteDir * along; };
    V2 shoulderR{33 + sx * 0.5, 52 + ps.breath}, shoulderL{71 + sx * 0.5, 52 + ps.breath};
    V2 handR = onFlute(30) + V2{0, 2.5}, handL = onFlute(11) + V2{1, 2.5};
    V2 elbowR{17 + sx * 0.3, 74 + ps.breath}, elbowL{66 + sx * 0.4, 80 + ps.breath};

    std::vector<Shape> s;
    // Pony tail behind everything, swinging with the music.
    V2 tailRoot = hp({60, 16});
    V2 tailMid = tailRoot + V2{9 + ps.tail * 0.4, 10};
    V2 tailTip = tailMid + V2{4 + ps.tail, 16};
    s.push_back({[=](V2 p) {
                     return std::min(sdTaper(p, tailRoot, tailMid, 5.0, 4.0),
                                     sdTaper(p, tailMid, tailTip, 4.0, 1.2));
                 },
                 hair, 3, 0.4, 0.5});
    // The scarf's loose end, fluttering behind the shoulder.
    V2 scarfRoot{64 + sx * 0.8, 44 + by * 0.5};
    V2 scarfMid = scarfRoot + V2{11 + ps.tail * 0.3, 5};
    V2 scarfTip = scarfMid + V2{5 + ps.tail * 0.6, 13 - ps.tail * 0.3};
    s.push_back({[=](V2 p) {
                     return std::min(sdTaper(p, scarfRoot, scarfMid, 3.6, 3.2),
                                     sdTaper(p, scarfMid, scarfTip, 3.2, 2.4));
                 },
                 scarf, 3, 0.4, 0.5});
    // Body: a long coat, open collar.
    std::vector<V2> body = {{36 + sx * 0.6, 46 + ps.breath},
                            {68 + sx * 0.6, 46 + ps.breath},
                            {77 + sx * 0.5, 58 + ps.breath},
                            {75, 112},
                            {29, 112},
                            {27 + sx * 0.5, 58 + ps.breath}};
    s.push_back({[=](V2 p) { return sdPolygon(p, body, 5); }, coat, 14, 0.25, 0.5});
    // Lapels either side of the opening, then the trim down the front.
    std::vector<V2> lapelL = {{43 + sx * 0.6, 46 + ps.breath}, {52 + sx * 0.6, 47}, {52 + sx * 0.6, 68}};
    std::vector<V2> lapelR = {{52 + sx * 0.6, 47}, {61 + sx * 0.6, 46 + ps.breath}, {52 + sx * 0.6, 68}};
    s.push_back({[=](V2 p) { return sdPolygon(p, lapelL, 0.8); }, sleeve, 3, 0.3, 0.6});
    s.push_back({[=](V2 p) { return sdPolygon(p, lapelR, 0.8); }, sleeve, 3, 0.3, 0.6});
    for (int k = 0; k < 3; ++k) {
        V2 button{55.5 + sx * 0.6, 74.0 + k * 11};
        s.push_back({[=](V2 p) { return sdEllipse(p, button, 1.6, 1.6); }, trim, 1.5, 0.8, 0.5});
    }
    // Coat trim down the front.
    s.push_back({[=](V2 p) {
                     return sdTaper(p, {53 + sx * 0.6, 50}, {51, 112}, 2.2, 2.6);
                 },
                 trim, 2, 0.6, 0.3});
    // Neck, then the scarf wound round it.
    s.push_back({[=](V2 p) { return sdTaper(p, neck, hp({50, 30}), 5.0, 4.6); }, skin, 4, 0.2, 0.4});
    s.push_back({[=](V2 p) {
                     return sdTaper(p, neck + V2{-6, 1}, neck + V2{7, 2}, 3.6, 3.8);
                 },
                 scarf, 3, 0.4, 0.5});
    // Head in three-quarter view, turned toward the flute.
    s.push_back({[=](V2 p) { return sdEllipse(p, hp({50, 23}), 10.5, 12.5); }, skin, 7, 0.3, 0.5});
    s.push_back({[=](V2 p) { return sdEllipse(p, hp({45.5, 32.5}), 5.5, 3.5); }, skin, 3, 0.2, 0.0}); // jaw
    s.push_back({[=](V2 p) { return sdEllipse(p, hp({39.6, 26}), 2.0, 2.4); }, skin, 1.5, 0.4, 0.5}); // nose
    s.push_back({[=](V2 p) { return sdEllipse(p, hp({45.5, 28.5}), 2.6, 1.7); }, blush, 2.5, 0.0, 0.0});
    // Hair: a cap over the top and the back of the head, with strands falling over the brow.
    auto headSpace = [=](V2 p) { return rotateAbout(p, neck, -(ps.tilt - 0.10)) - V2{sx, by}; };
    s.push_back({[=](V2 p) {
                     V2 q = headSpace(p);
                     double cap = std::max(sdEllipse(q, {52, 19}, 12.5, 10.5), q.y - 17 - 0.4 * (q.x - 40));
                     double back = std::max(sdEllipse(q, {58.5, 23}, 6.5, 10.5), 53.5 - q.x);
                     return std::min(cap, back);
                 },
                 hair, 4, 0.7, 0.4});
    for (int k = 0; k < 3; ++k) {
        V2 root{44.0 + k * 3.5, 11.0 + k * 0.5};
        V2 tip{39.5 + k * 3.0 + ps.tail * 0.08, 18.5 + k * 0.8};
        s.push_back({[=](V2 p) { return sdTaper(p, hp(root), hp(tip), 2.2, 0.6); }, hair, 1.5, 0.6, 0.4});
    }
    s.push_back({[=](V2 p) { return sdEllipse(p, hp({57, 26}), 2.2, 3.4); }, skin, 1.8, 0.2, 0.6}); // ear
    // Closed eyes of someone lost in the tune, and the brow above.
    s.push_back({[=](V2 p) {
                     return sdTaper(p, hp({43, 23.2}), hp({47.5, 23.8}), 0.6, 0.7);
                 },
                 dark, 1, 0, 0});
    s.push_back({[=](V2 p) {
                     return sdTaper(p, hp({42.5, 20.4}), hp({48, 19.8}), 0.7, 0.9);
                 },
                 hair, 1, 0, 0});
    // Right arm (on the left of the picture): shoulder down to the elbow, forearm up to the flute.
    s.push_back({[=](V2 p) { return sdTaper(p, shoulderR, elbowR, 6.0, 5.0); }, sleeve, 4, 0.3, 0.5});
    s.push_back({[=](V2 p) { return sdTaper(p, elbowR, handR + V2{0, 3}, 5.0, 3.8); }, sleeve, 4, 0.3, 0.5});
    s.push_back({[=](V2 p) {
                     return sdTaper(p, handR + V2{0, 6}, handR + V2{0, 3}, 3.8, 3.4);
                 },
                 trim, 2, 0.4, 0.4});
    // The flute, from the lips away to the left.
    s.push_back(
        {[=](V2 p) { return sdTaper(p, mouth + fluteDir * -3, fluteEnd, 2.0, 2.0); }, silver, 2, 1.0, 0.5});
    s.push_back({[=](V2 p) { return sdTaper(p, fluteEnd, fluteEnd + fluteDir * 1.5, 2.6, 2.6); }, silver, 2,
                 1.0, 0.5});
    // Left arm crossing in front of the chest.
    s.push_back({[=](V2 p) { return sdTaper(p, shoulderL, elbowL, 6.0, 5.2); }, sleeve, 4, 0.3, 0.5});
    s.push_back({[=](V2 p) { return sdTaper(p, elbowL, handL + V2{3, 4}, 5.2, 4.0); }, sleeve, 4, 0.3, 0.5});
    s.push_back({[=](V2 p) {
                     return sdTaper(p, handL + V2{5, 6}, handL + V2{3, 4}, 4.2, 3.6);
                 },
                 trim, 2, 0.4, 0.4});
    // Hands under the flute and fingers over the holes: a lifted finger rises off the tube.
    s.push_back({[=](V2 p) { return sdEllipse(p, handR, 4.6, 3.6); }, skin, 3, 0.2, 0.5});
    s.push_back({[=](V2 p) { return sdEllipse(p, handL, 4.6, 3.6); }, skin, 3, 0.2, 0.5});
    for (int i = 0; i < 6; ++i) {
        double along = i < 3 ? 24 + i * 4.5 : 5 + (i - 3) * 4.5;
        double lift = ps.fingers[i] ? 2.6 : 0.0;
        V2 base = onFlute(along) + V2{0, 2.0};
        V2 tip = onFlute(along) + V2{0.6, -1.6 - lift};
        s.push_back({[=](V2 p) { return sdTaper(p, base, tip, 1.5, 1.25); }, skin, 1.2, 0.3, 0.6});
    }
    return s;
}

// Signed distance gradient by central differences.
V2 gradient(const Sdf& f, V2 p) {
    const double e = 0.25;
    return {(f({p.x + e, p.y}) - f({p.x - e, p.y})) / (2 * e),
            (f({p.x, p.y + e}) - f({p.x, p.y - e})) / (2 * e)};
}

Layer drawFrame(int frame, const Studio& st) {
    const int S = superSample;
    std::vector<Shape> shapes = figure(poseAt(frame), st);
    Rgb outlineColour = settingColour(st.look, "flute.line");
    Layer big = makeLayer(fluteWidth * S, fluteHeight * S);
    Mask all = makeMask(big.w, big.h);
    const double px = 1.0 / S; // one supersample in picture pixels
    // Lit from the front right, a little below: the show puts the halved shadow up and to the left.
    const double lx = 0.52, ly = 0.30, lz = 0.80;
    for (const Shape& sh : shapes) {
        for (int y = 0; y < big.h; ++y)
            for (int x = 0; x < big.w; ++x) {
                V2 p{(x + 0.5) * px, (y + 0.5) * px};
                double d = sh.sdf(p);
                double cover = std::clamp(0.5 - d / px, 0.0, 1.0);
                if (cover <= 0) continue;
                std::size_t i = std::size_t(y) * big.w + x;
                all.v[i] = std::max(all.v[i], cover);
                // Rounded surface: facing out at the edge, toward the viewer at depth round.
                V2 g = gradient(sh.sdf, p);
                double gl = std::max(1e-9, length(g));
                double t = std::clamp(-d / sh.round, 0.0, 1.0);
                double side = std::sqrt(1 - t * t);
                double nx = g.x / gl * side, ny = g.y / gl * side, nz = t;
                double nl = std::sqrt(nx * nx + ny * ny + nz * nz);
                double diff = std::max(0.0, (nx * lx + ny * ly + nz * lz) / nl);
                const double hl =
                    std::sqrt(lx * lx + ly * ly + (lz + 1) * (lz + 1)); // half vector, viewer ahead
                double spec = std::pow(std::max(0.0, (nx * lx + ny * ly + nz * (lz + 1)) / nl / hl), 16.0);
                // A little darker toward the bottom, where the tunnel swallows the light.
                double fall = 1.0 - 0.2 * std::pow(p.y / fluteHeight, 2);
                Rgb c = scaled(sh.colour, (0.35 + 0.85 * diff) * fall);
                c = mix(c, Rgb{1, 1, 1}, spec * sh.shine);
                double rim = std::clamp(1.0 + d / 0.9, 0.0, 1.0); // within 0.9 pixel of the edge
                c = mix(c, outlineColour, rim * sh.rimDark);
                paint(big, x, y, clampRgb(c), cover);
            }
    }
    // A dark outline around the whole figure so it stands out from the tunnel walls.
    Mask outline = dilate(all, 1.1 * S);
    Layer out = makeLayer(big.w, big.h);
    paintMask(out, outline, 0, 0, [&](int, int) { return outlineColour; });
    for (int y = 0; y < big.h; ++y)
        for (int x = 0; x < big.w; ++x) {
            std::size_t i = std::size_t(y) * big.w + x;
            paint(out, x, y, big.rgb[i], big.alpha[i]);
        }
    return downsample(out, S);
}

} // namespace

Picture makeFlutePlayer(const Studio& st, Rgb ground) {
    Picture p{"fluteboy.dat", fluteWidth, fluteHeight * fluteFrames, true, {}};
    for (int f = 0; f < fluteFrames; ++f) {
        std::vector<std::uint16_t> px = toKeyedRgb565(drawFrame(f, st), ground);
        p.pixels.insert(p.pixels.end(), px.begin(), px.end());
    }
    return p;
}
