// rand and srand for the page, giving the numbers the native build's C library (glibc) gives: the
// show places its water drops and shakes its title with std::rand, and the page's own C library
// (musl) has another generator, which would put them elsewhere. This is glibc's default
// generator: an additive feedback register of 31 words, r[i] = r[i-31] + r[i-3], seeded by the
// minimal standard generator (16807 * r mod 2^31 - 1), its first 310 outputs thrown away, and
// each output shifted right by one.
#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

struct AdditiveFeedback {
    std::array<std::uint32_t, 34> r{}; // word i of the sequence is kept at r[i % 34]
    unsigned next = 0;                 // where the next word goes
    bool seeded = false;
};

AdditiveFeedback generator;

std::uint32_t nextWord() {
    AdditiveFeedback& g = generator;
    const unsigned i = g.next;
    const std::uint32_t word = g.r[(i + 34 - 31) % 34] + g.r[(i + 34 - 3) % 34];
    g.r[i] = word;
    g.next = (i + 1) % 34;
    return word;
}

void seed(unsigned value) {
    AdditiveFeedback& g = generator;
    std::int32_t word = value == 0 ? 1 : static_cast<std::int32_t>(value);
    g.r[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < 31; ++i) {
        // 16807 * word mod (2^31 - 1) without overflow (Schrage's method), as glibc computes it.
        const std::int32_t hi = word / 127773, lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0) word += 2147483647;
        g.r[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(word);
    }
    for (int i = 31; i < 34; ++i) g.r[static_cast<std::size_t>(i)] = g.r[static_cast<std::size_t>(i - 31)];
    g.next = 0; // word 34
    for (int i = 34; i < 344; ++i) nextWord();
    g.seeded = true;
}

} // namespace

extern "C" void srand(unsigned value) {
    seed(value);
}

extern "C" int rand() {
    if (!generator.seeded) seed(1);
    return static_cast<int>(nextWord() >> 1);
}
