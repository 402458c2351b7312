// mksong: compiles a song source into an Extended Module file.
//
//   mksong SOURCE OUTPUT.xm [--wav DIR] [--dump]
//
// --wav also writes every instrument's sample as a WAVE file into DIR, so the
// synthesised sounds can be heard and measured on their own; --dump prints
// the patterns as a tracker would show them.
#include "tools/mksong/song.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

void put16(std::ofstream& f, unsigned v) {
    char b[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
    f.write(b, 2);
}
void put32(std::ofstream& f, uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

bool writeWave(const std::string& path, const std::vector<int16_t>& frames, uint32_t rate) {
    std::ofstream f(path, std::ios::binary);
    if (!f) return false;
    uint32_t bytes = static_cast<uint32_t>(frames.size() * 2);
    f.write("RIFF", 4);
    put32(f, 36 + bytes);
    f.write("WAVEfmt ", 8);
    put32(f, 16);
    put16(f, 1);
    put16(f, 1);
    put32(f, rate);
    put32(f, rate * 2);
    put16(f, 2);
    put16(f, 16);
    f.write("data", 4);
    put32(f, bytes);
    for (int16_t v : frames)
        put16(f, static_cast<uint16_t>(v));
    return bool(f);
}

void dumpSong(const XmSong& song) {
    static const char* const names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    std::printf("%s: %zu positions, restart %d, speed %d, tempo %d\n", song.name.c_str(), song.orders.size(),
                song.restart_position, song.speed, song.tempo);
    for (size_t pos = 0; pos < song.orders.size(); ++pos) {
        const XmPattern& p = song.patterns[song.orders[pos]];
        std::printf("\nposition %zu: pattern %d\n", pos, song.orders[pos]);
        for (int r = 0; r < p.rows; ++r) {
            std::printf("%02X", r);
            for (int ch = 0; ch < song.channels; ++ch) {
                const XmCell& c = p.cells[size_t(r) * song.channels + ch];
                char note[8] = "...";
                if (c.note == xmNoteKeyOff)
                    std::snprintf(note, sizeof note, "===");
                else if (c.note)
                    std::snprintf(note, sizeof note, "%s%d", names[(c.note - 1) % 12], (c.note - 1) / 12);
                char ins[8] = "..", vol[8] = "..", fx[8] = "...";
                if (c.instrument) std::snprintf(ins, sizeof ins, "%02d", c.instrument);
                if (c.volume) std::snprintf(vol, sizeof vol, "%02X", c.volume);
                if (c.effect || c.param)
                    std::snprintf(fx, sizeof fx, "%c%02X",
                                  c.effect < 10 ? '0' + c.effect : 'A' + c.effect - 10, c.param);
                std::printf("|%s%s%s%s", note, ins, vol, fx);
            }
            std::printf("\n");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string source, output, wavDir;
    bool dump = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dump")
            dump = true;
        else if (a == "--wav" && i + 1 < argc)
            wavDir = argv[++i];
        else if (source.empty())
            source = a;
        else if (output.empty())
            output = a;
        else
            source.clear(), i = argc;
    }
    if (source.empty() || output.empty()) {
        std::fprintf(stderr, "usage: mksong SOURCE OUTPUT.xm [--wav DIR] [--dump]\n");
        return 2;
    }
    CompiledSong compiled;
    std::string message;
    if (!compileSongFile(source, compiled, message)) {
        std::fprintf(stderr, "mksong: %s\n", message.c_str());
        return 1;
    }
    if (dump) dumpSong(compiled.song);
    std::vector<uint8_t> bytes;
    if (!xmWrite(compiled.song, bytes, message)) {
        std::fprintf(stderr, "mksong: %s: %s\n", source.c_str(), message.c_str());
        return 1;
    }
    // Write beside the target and rename, so a failed run never leaves half a module behind.
    std::string temp = output + ".tmp";
    {
        std::ofstream f(temp, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        f.close(); // the last buffered bytes reach the disk here, so check after closing
        if (!f) {
            std::fprintf(stderr, "mksong: cannot write %s\n", temp.c_str());
            std::remove(temp.c_str());
            return 1;
        }
    }
    if (std::rename(temp.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "mksong: cannot rename %s to %s\n", temp.c_str(), output.c_str());
        std::remove(temp.c_str());
        return 1;
    }
    if (!wavDir.empty()) {
        for (size_t i = 0; i < compiled.song.instruments.size(); ++i) {
            const XmInstrument& ins = compiled.song.instruments[i];
            if (ins.samples.empty()) continue;
            char name[32];
            std::snprintf(name, sizeof name, "/%02zu.wav", i + 1);
            if (!writeWave(wavDir + name, ins.samples[0].data,
                           static_cast<uint32_t>(compiled.sample_rates[i]))) {
                std::fprintf(stderr, "mksong: cannot write %s%s\n", wavDir.c_str(), name);
                return 1;
            }
        }
    }
    return 0;
}
