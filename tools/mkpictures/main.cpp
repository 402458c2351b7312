// mkpictures: makes the show's pictures and the program's built-in resources from the
// sources in content/.
//   mkpictures pictures CONTENT_DIR FONT_DIR OUT_DIR PREVIEW_DIR
//   mkpictures resources CONTENT_DIR FONT_DIR OUT_CPP PREVIEW_DIR
#include "pictures.h"
#include "resourcegen.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

static bool save(const Picture& p, const std::string& outDir, const std::string& previewDir) {
    if (!writeRaw(outDir + "/" + p.name, p.pixels)) {
        std::fprintf(stderr, "mkpictures: cannot write %s/%s\n", outDir.c_str(), p.name.c_str());
        return false;
    }
    std::string stem = p.name.substr(0, p.name.find('.'));
    for (char& c : stem)
        if (c == '~') c = '_';
    if (!writePreview(previewDir + "/" + stem + ".png", p.pixels, p.w, p.h, p.keyed)) {
        std::fprintf(stderr, "mkpictures: cannot write the preview of %s\n", p.name.c_str());
        return false;
    }
    return true;
}

static int makePictures(const Studio& st, const std::string& outDir, const std::string& previewDir) {
    std::vector<Picture> all;
    Picture lens = makeLensTexture(st);
    Picture tunnel = makeTunnelTexture(st);
    Picture water = makeWaterBackground(st);
    // Keyed pictures fade their edges toward what they will be drawn on.
    Rgb onLens = averageColour(lens.pixels);
    Rgb onWater = averageColour(water.pixels);
    Rgb onTunnel = scaled(averageColour(tunnel.pixels), 0.6); // the tunnel is shaded darker toward its middle
    all.push_back(makeWarning(st));
    all.push_back(makeCaption(st, onLens));
    all.push_back(lens);
    all.push_back(makeTitleLogo(st, onLens));
    for (Picture& p : makeCredits(st, onWater))
        all.push_back(p);
    all.push_back(water);
    all.push_back(makeFlutePlayer(st, onTunnel));
    all.push_back(tunnel);
    all.push_back(makeGroupLogo(st, scaled(onTunnel, 0.3))); // fades in while the tunnel fades out
    if (settingsFailed()) return 1;
    for (const Picture& p : all)
        if (!save(p, outDir, previewDir)) return 1;
    if (!writeScenePreviews(all, previewDir)) {
        std::fprintf(stderr, "mkpictures: cannot write the scene previews\n");
        return 1;
    }
    return 0;
}

static int makeResources(const Studio& st, const std::string& outCpp, const std::string& previewDir) {
    ProgramResources r = makeProgramResources(st);
    if (settingsFailed()) return 1;
    if (!writeResourceSource(outCpp, r)) {
        std::fprintf(stderr, "mkpictures: cannot write %s\n", outCpp.c_str());
        return 1;
    }
    // Previews: the bitmap as is, the icon four times enlarged in both colour depths.
    std::vector<std::uint8_t> rgb(200 * 64 * 3);
    for (int i = 0; i < 200 * 64; ++i)
        for (int k = 0; k < 3; ++k)
            rgb[i * 3 + k] = r.palette[r.bitmap[i] * 3 + k];
    bool ok = stbi_write_png((previewDir + "/demobitmap.png").c_str(), 200, 64, 3, rgb.data(), 600) != 0;
    const int Z = 4, I = 32;
    std::vector<std::uint8_t> icon(I * Z * 2 * I * Z * 3);
    static constexpr std::uint8_t vga16[48] = {
        0,   0,   0,   128, 0, 0, 0, 128, 0, 128, 128, 0, 0, 0, 128, 128, 0, 128, 0, 128, 128, 192, 192, 192,
        128, 128, 128, 255, 0, 0, 0, 255, 0, 255, 255, 0, 0, 0, 255, 255, 0, 255, 0, 255, 255, 255, 255, 255};
    for (int y = 0; y < I * Z; ++y)
        for (int x = 0; x < I * Z * 2; ++x) {
            int sx = (x / Z) % I, sy = y / Z, i = sy * I + sx;
            std::uint8_t* o = &icon[(std::size_t(y) * I * Z * 2 + x) * 3];
            const std::uint8_t* c = x < I * Z ? &r.palette[r.icon256[i] * 3] : &vga16[r.icon16[i] * 3];
            for (int k = 0; k < 3; ++k)
                o[k] = r.iconMask[i] ? std::uint8_t(((sx + sy) & 1) ? 0xC0 : 0xA0) : c[k];
        }
    ok = ok && stbi_write_png((previewDir + "/demoicon.png").c_str(), I * Z * 2, I * Z, 3, icon.data(),
                              I * Z * 2 * 3) != 0;
    if (!ok) std::fprintf(stderr, "mkpictures: cannot write the resource previews\n");
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 6 || (std::strcmp(argv[1], "pictures") != 0 && std::strcmp(argv[1], "resources") != 0)) {
        std::fprintf(stderr, "usage: mkpictures pictures CONTENT_DIR FONT_DIR OUT_DIR PREVIEW_DIR\n"
                             "       mkpictures resources CONTENT_DIR FONT_DIR OUT_CPP PREVIEW_DIR\n");
        return 2;
    }
    Studio studio;
    if (!openStudio(studio, argv[2], argv[3])) return 1;
    if (std::strcmp(argv[1], "pictures") == 0) return makePictures(studio, argv[4], argv[5]);
    return makeResources(studio, argv[4], argv[5]);
}
