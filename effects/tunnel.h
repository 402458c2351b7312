// The tunnel: a textured tunnel with a three-lobed cross-section, dark at its far centre, flowing
// toward the viewer and swaying (fading in over order position 6); the flute player's shadow
// rises into the picture (8), then the animated player in front of it (10); over position 13
// the scene fades to black while the group's logo fades in.
#pragma once

#include <array>
#include <cstdint>

#include "effects/colour.h"

constexpr std::int32_t fluteFrames = 19;
constexpr std::int32_t fluteWidth = 86, fluteHeight = 109;
constexpr std::int32_t flutePixels = fluteWidth * fluteHeight;
constexpr std::int32_t shadowColumn = 229, figureColumn = 234;
constexpr std::int32_t groupLogoWidth = 220, groupLogoHeight = 106; // "p3_zynlg.raw"
constexpr std::int32_t groupLogoX = 50, groupLogoY = 45;
constexpr std::int32_t belowScreen = frameHeight; // a top row that puts a picture out of sight
constexpr std::int32_t tunnelTextureSize = 256;

// The archive entries the tunnel reads, in the order it reads them. The flute player's frames
// are stored one after another, so one read takes all nineteen.
constexpr ArchiveItem tunnelTextureItem{"p3_txtr.raw", tunnelTextureSize * tunnelTextureSize};
constexpr ArchiveItem fluteItem{"fluteboy.dat", fluteFrames * flutePixels};
constexpr ArchiveItem groupLogoItem{"p3_zynlg.raw", groupLogoWidth * groupLogoHeight};
constexpr std::array<ArchiveItem, 3> tunnelItems{tunnelTextureItem, fluteItem, groupLogoItem};

// Per screen pixel: the texture's angle row (high byte) and depth column (low byte).
extern std::array<std::uint16_t, framePixels> tunnelMap;
// Per screen pixel: the scale tables' level base, darker toward the centre.
extern std::array<std::uint16_t, framePixels> tunnelShade;

// The tunnel's movement: texture offsets and the step counter of the sway.
struct TunnelState {
    std::uint8_t du, dv, k;
};

// The counter of the flute player's animation; it runs on from the start of the program.
extern std::uint32_t fluteCounter;

// The pictures the tunnel draws.
struct TunnelPictures {
    const std::uint16_t* texture;   // 256 x 256
    const std::uint16_t* flute;     // 19 frames of 86 x 109, keyed, one after another
    const std::uint16_t* groupLogo; // 220 x 106, keyed
};

// Where the flute player and its shadow stand for a moment of the music (belowScreen: not shown).
struct FlutePlacing {
    std::int32_t shadowTop, figureTop;
};

// Builds tunnelMap and tunnelShade.
void buildTunnelTables();

// One step: the animation counter, the flow (du) and the sway (dv from k, then k).
void advanceTunnel(TunnelState* state, std::uint32_t* counter);

// The flute player's frame for an animation counter: a new one every two steps, 0 after 18.
std::int32_t fluteFrame(std::uint32_t counter);

// Draws the shaded tunnel at the state's offsets.
void renderTunnel(std::uint16_t* frame, const std::uint16_t* texture, const TunnelState& state);

// The shadow's and the figure's top rows for an order position and row.
FlutePlacing flutePlacing(std::int32_t position, std::int32_t row);

// A whole frame of the tunnel part for an order position and row: tunnel, the player's shadow
// and figure (frame fluteFrame(counter)), the fades and the logo.
void drawTunnelFrame(std::uint16_t* frame, const TunnelPictures& pictures, const TunnelState& state,
                     std::uint32_t counter, std::int32_t position, std::int32_t row);

// The tunnel part: its tables and pictures, then the show until order position 14.
void runTunnel(const Stage& stage);
