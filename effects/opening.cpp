// The opening: warning screen, the texture under the bulging lens with the caption, the title.
#include "effects/opening.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "effects/colour.h"

std::array<std::uint16_t, lensColumns * lensRows> lensMap{};
std::array<std::uint16_t, 256> pathX{};
std::array<std::uint16_t, 256> pathY{};

namespace {

constexpr double pi = std::numbers::pi;

// The part's pictures, read from the archive as the part starts.
std::array<std::uint16_t, warningItem.count> warningPicture;
std::array<std::uint16_t, captionItem.count> captionPicture;
std::array<std::uint16_t, lensTextureItem.count> lensTexture;
std::array<std::uint16_t, titleItem.count> titlePicture;

// Texture offsets for step k: once round an ellipse over the texture in 256 steps.
std::uint8_t offsetU(std::uint8_t k) {
    return static_cast<std::uint8_t>(static_cast<std::int32_t>((1 + std::cos(k * pi / 128)) * 127) & 0xFF);
}
std::uint8_t offsetV(std::uint8_t k) {
    return static_cast<std::uint8_t>(static_cast<std::int32_t>((1 + std::sin(k * pi / 128)) * 127) & 0xFF);
}

// Alpha of a blend, or 0 when it is too faint to be worth drawing.
bool visible(std::int32_t level) {
    return level >= 3;
}

} // namespace

void buildLensTables() {
    for (std::int32_t j = 0; j < lensRows; ++j) {
        const double rowBump = 1 + std::sin(j * pi * 0.005);
        for (std::int32_t i = 0; i < lensColumns; ++i) {
            // C between 0.5 and 1.0 pulls the point toward texture coordinate 128.
            const double c = 0.5 + rowBump * (1 + std::sin(i * pi / 256)) / 8;
            const std::int32_t u = static_cast<std::int32_t>(i * c + 128 * (1 - c)) & 0xFF;
            const std::int32_t v = static_cast<std::int32_t>(j * c + 128 * (1 - c)) & 0xFF;
            lensMap[static_cast<std::size_t>(j * lensColumns + i)] = static_cast<std::uint16_t>((v << 8) | u);
        }
    }
    for (std::int32_t k = 0; k < 256; ++k) {
        pathX[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>((1 + std::cos(k * pi / 128)) * 96);
        pathY[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>((1 + std::sin(k * pi / 128)) * 100);
    }
}

OpeningState openingStart() {
    return OpeningState{0, 0, 0, titleX, titleY};
}

void advanceLens(OpeningState* state) {
    state->k = static_cast<std::uint8_t>(state->k + 1);
    state->du = offsetU(state->k);
    state->dv = offsetV(state->k);
}

void renderLens(std::uint16_t* frame, const std::uint16_t* texture, const OpeningState& state) {
    // pathX <= 192 and pathY <= 200 keep the 320 x 200 window inside the 512 x 400 map.
    const std::uint16_t* window = lensMap.data() + pathY[state.k] * lensColumns + pathX[state.k];
    const std::uint32_t du = state.du, dv = state.dv;
    for (std::int32_t row = 0; row < frameHeight; ++row) {
        const std::uint16_t* map = window + row * lensColumns;
        std::uint16_t* target = frame + row * frameWidth;
        for (std::int32_t column = 0; column < frameWidth; ++column) {
            const std::uint32_t m = map[column];
            const std::uint32_t v = ((m >> 8) + dv) & 0xFF;
            const std::uint32_t u = ((m & 0xFF) + du) & 0xFF;
            target[column] = texture[(v << 8) | u];
        }
    }
}

std::int32_t captionLevel(std::int32_t position, std::int32_t row) {
    return position == 0 ? fadeInLevel(row) : fadeOutLevel(row);
}

std::int32_t titleLevel(std::int32_t position, std::int32_t row) {
    return position == 2 ? std::clamp(row - 8, 0, 31) : 31;
}

void drawCaptionFrame(std::uint16_t* frame, const OpeningPictures& pictures, const OpeningState& state,
                      std::int32_t position, std::int32_t row) {
    renderLens(frame, pictures.texture, state);
    const std::int32_t level = captionLevel(position, row);
    if (visible(level))
        blendPicture(frame, pictures.caption, captionWidth, captionHeight, captionX, captionY, level);
}

void drawTitleFrame(std::uint16_t* frame, const OpeningPictures& pictures, OpeningState* state,
                    std::int32_t position, std::int32_t row, std::int32_t newX, std::int32_t newY) {
    renderLens(frame, pictures.texture, *state);
    const std::int32_t level = titleLevel(position, row);
    // The faint copy at the last place and the logo at the new one make it shake with a trail.
    if (visible(level / 2))
        blendPicture(frame, pictures.title, titleWidth, titleHeight, state->titleX, state->titleY, level / 2);
    if (visible(level)) blendPicture(frame, pictures.title, titleWidth, titleHeight, newX, newY, level);
    state->titleX = newX;
    state->titleY = newY;
    if (position == 4) fadeFrame(frame, fadeOutLevel(row));
}

void runOpening(const Stage& stage) {
    stage.load(warningItem, warningPicture.data());
    stage.load(captionItem, captionPicture.data());
    stage.load(lensTextureItem, lensTexture.data());
    stage.load(titleItem, titlePicture.data());
    buildLensTables();
    OpeningState state = openingStart();
    const OpeningPictures pictures{captionPicture.data(), lensTexture.data(), titlePicture.data()};

    stage.presentFrame(warningPicture.data());
    stage.waitMs(3000);
    PlayStatus status = stage.startMusic();
    stage.framePump(); // once before the first pass: a message and Escape after the warning

    // The caption fades in over position 0 and out over position 1.
    const auto advance = [&state](std::int32_t, std::int32_t) { advanceLens(&state); };
    status = runUntilPosition(stage, status, 2, StatusReading::everyPass, advance,
                              [&](std::int32_t position, std::int32_t row) {
                                  drawCaptionFrame(stage.frameBuffer0, pictures, state, position, row);
                                  return stage.frameBuffer0;
                              });
    // The title shakes from position 2 on and everything fades to black over position 4.
    runUntilPosition(stage, status, 5, StatusReading::everyPass, advance,
                     [&](std::int32_t position, std::int32_t row) {
                         const std::int32_t x = titleX + std::rand() % 6; // column first
                         const std::int32_t y = titleY + std::rand() % 6;
                         drawTitleFrame(stage.frameBuffer0, pictures, &state, position, row, x, y);
                         return stage.frameBuffer0;
                     });
}
