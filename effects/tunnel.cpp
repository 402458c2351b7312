// The tunnel and the flute player.
#include "effects/tunnel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::array<std::uint16_t, framePixels> tunnelMap{};
std::array<std::uint16_t, framePixels> tunnelShade{};
std::uint32_t fluteCounter = 0;

namespace {

constexpr double pi = std::numbers::pi;

// The part's pictures, read from the archive as the part starts.
std::array<std::uint16_t, tunnelTextureItem.count> tunnelTexture;
std::array<std::uint16_t, fluteItem.count> flutePictures;
std::array<std::uint16_t, groupLogoItem.count> groupLogo;

// Low eight bits, two's complement: -1 becomes 255.
std::uint16_t lowByte(double value) {
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(value) & 0xFF);
}

// Rows of a picture of the given height that stay on the screen from top down (none below it).
std::int32_t rowsInView(std::int32_t top, std::int32_t height) {
    return std::clamp(frameHeight - top, 0, height);
}

} // namespace

void buildTunnelTables() {
    for (std::int32_t r = 0; r < frameHeight; ++r)
        for (std::int32_t c = 0; c < frameWidth; ++c) {
            const double x = c - 160, y = r - 100;
            const std::size_t i = static_cast<std::size_t>(r * frameWidth + c);
            const double d = std::sqrt(x * x + y * y);
            if (d == 0) {
                tunnelMap[i] = 0;
            } else {
                const double t = std::atan2(y, x);
                const std::uint16_t angle = lowByte(t * 128 / pi);
                const std::uint16_t depth = lowByte((4000 + 2000 * std::cos(3 * t)) / d);
                tunnelMap[i] = static_cast<std::uint16_t>((angle << 8) + depth);
            }
            const double m = std::max(0.0, 1 - std::sqrt((x / 180) * (x / 180) + (y / 180) * (y / 180)));
            const std::int32_t level = static_cast<std::int32_t>(m * 31);
            tunnelShade[i] = static_cast<std::uint16_t>((31 - level) * 32);
        }
}

void advanceTunnel(TunnelState* state, std::uint32_t* counter) {
    ++*counter;
    state->du = static_cast<std::uint8_t>(state->du + 4);
    state->dv = lowByte((1 + std::cos(state->k * pi / 128)) * 127);
    state->k = static_cast<std::uint8_t>(state->k + 1);
}

std::int32_t fluteFrame(std::uint32_t counter) {
    return static_cast<std::int32_t>((counter / 2) % fluteFrames);
}

void renderTunnel(std::uint16_t* frame, const std::uint16_t* texture, const TunnelState& state) {
    const std::uint32_t du = state.du, dv = state.dv;
    const std::uint16_t* map = tunnelMap.data();
    const std::uint16_t* shade = tunnelShade.data();
    const std::uint16_t* redBlue = scaleRedBlue.data();
    const std::uint16_t* green = scaleGreen.data();
    for (std::size_t i = 0; i < framePixels; ++i) {
        const std::uint32_t e = map[i];
        const std::uint32_t p = texture[((((e >> 8) + dv) & 0xFF) << 8) | (((e & 0xFF) + du) & 0xFF)];
        // tunnelShade holds level * 32 for 0..31, so the indices stay inside the tables.
        const std::uint32_t base = shade[i];
        frame[i] = static_cast<std::uint16_t>(redBlue[base + (p & 0xF81F)] + green[base + ((p >> 6) & 0x1F)]);
    }
}

FlutePlacing flutePlacing(std::int32_t position, std::int32_t row) {
    switch (position) {
    case 8: return {213 - 2 * row, belowScreen};
    case 9: return {85, belowScreen};
    case 10: return {86, 218 - 2 * row};
    case 11:
    case 12:
    case 13: return {86, 91};
    default: return {belowScreen, belowScreen};
    }
}

void drawTunnelFrame(std::uint16_t* frame, const TunnelPictures& pictures, const TunnelState& state,
                     std::uint32_t counter, std::int32_t position, std::int32_t row) {
    renderTunnel(frame, pictures.texture, state);
    const FlutePlacing placing = flutePlacing(position, row);
    const std::uint16_t* flute = pictures.flute + fluteFrame(counter) * flutePixels;
    shadowPicture(frame, flute, fluteWidth, rowsInView(placing.shadowTop, fluteHeight), shadowColumn,
                  placing.shadowTop);
    copyPicture(frame, flute, fluteWidth, rowsInView(placing.figureTop, fluteHeight), figureColumn,
                placing.figureTop);
    if (position == 6) fadeFrame(frame, fadeInLevel(row));
    if (position == 13) {
        fadeFrame(frame, fadeOutLevel(row));
        const std::int32_t alpha = fadeInLevel(row);
        if (alpha >= 3)
            blendPicture(frame, pictures.groupLogo, groupLogoWidth, groupLogoHeight, groupLogoX, groupLogoY,
                         alpha);
    }
}

void runTunnel(const Stage& stage) {
    buildTunnelTables();
    stage.load(tunnelTextureItem, tunnelTexture.data());
    stage.load(fluteItem, flutePictures.data());
    stage.load(groupLogoItem, groupLogo.data());
    const TunnelPictures pictures{tunnelTexture.data(), flutePictures.data(), groupLogo.data()};
    TunnelState state{0, 0, 0};

    // The music has played on while the tables were built: where it is now, then one pump.
    const PlayStatus status = stage.readPlayStatus();
    stage.framePump();
    runUntilPosition(
        stage, status, 14, StatusReading::everyPass,
        [&state](std::int32_t, std::int32_t) { advanceTunnel(&state, &fluteCounter); },
        [&](std::int32_t position, std::int32_t row) {
            drawTunnelFrame(stage.frameBuffer0, pictures, state, fluteCounter, position, row);
            return stage.frameBuffer0;
        });
}
