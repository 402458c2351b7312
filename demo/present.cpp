// Frame presentation: a 320x200 RGB565 frame copied into the primary surface directly, centred,
// doubled or interlaced, converted to RGB555 where the display runs 5-5-5.
#include <cstring>

#include "demo/demo.h"

Presentation presentation{};

void preparePresentation() {
    Presentation& p = presentation;
    p.convertTo555 = 0;
    p.copyCase = copyNone;
    displayGetSurfaceInfo(&surfaceDesc);
    p.pitch = surfaceDesc.pitch;
    if (displayBits == 16 && surfaceDesc.greenMask == 0x3E0) p.convertTo555 = 1;
    const auto width = static_cast<std::uint32_t>(displayWidth);
    const auto height = static_cast<std::uint32_t>(displayHeight);
    const auto pitch = static_cast<std::uint32_t>(p.pitch);
    p.displayBytes = static_cast<std::uint32_t>((displayBits - 1) / 8 + 1);
    p.rowSkip = p.pitch - bufferWidth * static_cast<std::int32_t>(p.displayBytes);
    p.rowWords = width * p.displayBytes / 4;
    // Unsigned halving before the multiplication; a negative size difference gives an offset
    // that only cases which never use it can get.
    p.topOffset = ((height - static_cast<std::uint32_t>(bufferHeight)) >> 1) * pitch;
    p.doubledTopOffset = ((height - 2 * static_cast<std::uint32_t>(bufferHeight)) >> 1) * pitch;
    p.leftOffset = ((width - static_cast<std::uint32_t>(bufferWidth)) >> 1) * p.displayBytes;
    p.skipSecondLine = static_cast<std::uint32_t>(demoSettings.interlaced);
    if (demoSettings.bufferType == 0) {
        switch (demoSettings.modeIndex) {
        case 2:
        case 5: p.copyCase = copyDirect; break;
        case 8: p.copyCase = copyCentred; break;
        case 11:
        case 14: p.copyCase = copyDoubled; break;
        default: break;
        }
    }
}

void convertTo555(std::uint16_t* destination, const std::uint16_t* source, std::size_t pixels) {
    for (std::size_t i = 0; i + 1 < pixels; i += 2) {
        std::uint32_t pair;
        std::memcpy(&pair, source + i, 4);
        // Red and the upper five green bits move down one place; blue stays; green's low bit goes.
        pair = ((pair >> 1) & 0x7FE07FE0u) | (pair & 0x001F001Fu);
        std::memcpy(destination + i, &pair, 4);
    }
}

void presentFrame(std::uint8_t* destination, const std::uint16_t* frame) {
    const Presentation& p = presentation;
    const std::uint16_t* source = frame;
    if (p.convertTo555) {
        convertTo555(conversionBuffer, frame, framePixels);
        source = conversionBuffer;
    }
    if (displayLock(&surfaceDesc, lockWait | lockWriteOnly) != displayOk) return;
    // The address recorded at set-up; the lock's own address where the host moved the surface.
    std::uint8_t* base = surfaceDesc.memory ? surfaceDesc.memory : destination;
    switch (p.copyCase) {
    case copyDirect: {
        std::uint8_t* d = base + p.topOffset;
        for (std::int32_t row = 0; row < frameHeight; ++row) {
            std::memcpy(d, source, p.rowWords * 4);
            source += p.rowWords * 2;
            d += p.rowWords * 4 + p.rowSkip;
        }
        break;
    }
    case copyCentred: {
        std::uint8_t* d = base + p.topOffset + p.leftOffset;
        for (std::int32_t row = 0; row < frameHeight; ++row) {
            std::memcpy(d, source, frameWidth * 2);
            source += frameWidth;
            d += frameWidth * 2 + p.rowSkip;
        }
        break;
    }
    case copyDoubled: {
        std::uint8_t* d = base + p.doubledTopOffset;
        const std::size_t below = p.skipSecondLine ? 0 : static_cast<std::size_t>(p.pitch);
        for (std::int32_t row = 0; row < frameHeight; ++row) {
            for (std::int32_t x = 0; x < frameWidth; ++x) {
                const std::uint32_t pair = source[x] * 0x00010001u;
                std::memcpy(d, &pair, 4);
                // Interlaced: the second line of the pair is written onto the first (never below).
                std::memcpy(d + below, &pair, 4);
                d += 4;
            }
            source += frameWidth;
            d += 2 * p.rowSkip;
        }
        break;
    }
    default: break; // no copy for this mode
    }
    displayUnlock();
}

void releaseDisplay() {
    displayRestore();
    displayReleasePrimary();
    displayRelease();
}
