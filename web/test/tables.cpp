// Prints the show's tables that are built with floating point (the lens map and its paths, the
// texture offsets of the lens and the tunnel, the tunnel's map and shade, the credits' alpha
// curve), one table a line: its name, then every value in decimal. Built natively and for the
// page, so the web tests can say which tables the page's maths library makes differently and by
// how much.
#include <cstdio>
#include <vector>

#include "effects/opening.h"
#include "effects/tunnel.h"
#include "effects/water.h"

namespace {

void print(const char* name, const std::vector<long>& values) {
    std::printf("%s", name);
    for (const long value : values) std::printf(" %ld", value);
    std::printf("\n");
}

template <typename Table> std::vector<long> valuesOf(const Table& table) {
    return std::vector<long>(table.begin(), table.end());
}

} // namespace

int main() {
    buildLensTables();
    print("lensMapU", [] {
        std::vector<long> u;
        for (const std::uint16_t entry : lensMap) u.push_back(entry & 0xFF);
        return u;
    }());
    print("lensMapV", [] {
        std::vector<long> v;
        for (const std::uint16_t entry : lensMap) v.push_back(entry >> 8);
        return v;
    }());
    print("lensPathX", valuesOf(pathX));
    print("lensPathY", valuesOf(pathY));
    std::vector<long> du, dv;
    OpeningState lens = openingStart();
    for (int k = 0; k < 256; ++k) {
        advanceLens(&lens);
        du.push_back(lens.du);
        dv.push_back(lens.dv);
    }
    print("lensOffsetU", du);
    print("lensOffsetV", dv);

    buildTunnelTables();
    print("tunnelAngle", [] {
        std::vector<long> angle;
        for (const std::uint16_t entry : tunnelMap) angle.push_back(entry >> 8);
        return angle;
    }());
    print("tunnelDepth", [] {
        std::vector<long> depth;
        for (const std::uint16_t entry : tunnelMap) depth.push_back(entry & 0xFF);
        return depth;
    }());
    print("tunnelShade", valuesOf(tunnelShade));
    std::vector<long> tunnelDv;
    TunnelState tunnel{};
    std::uint32_t counter = 0;
    for (int k = 0; k < 256; ++k) {
        advanceTunnel(&tunnel, &counter);
        tunnelDv.push_back(tunnel.dv);
    }
    print("tunnelOffsetV", tunnelDv);

    std::vector<long> alpha;
    for (int row = 0; row < 64; ++row) alpha.push_back(creditAlpha(row));
    print("creditAlpha", alpha);
    return 0;
}
