#include "tools/mksong/song.h"

#include "tools/mksong/synth.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

constexpr int maxIncludeDepth = 8;
constexpr int maxMacroDepth = 16;
constexpr size_t maxTokens = 200000; // repetition and macros stop here instead of eating memory

struct Line {
    std::string text;
    std::string where; // "file:line" for messages
    bool indented = false;
};

struct TrackState {
    int cursor = 0;
    int instrument = 0; // 1-based, 0 = none yet
    int length = 4;
    int transpose = 0;
    bool clip = false; // events past the pattern's end are cut instead of refused
    int volume = -1;   // volume given to every note without its own, -1 = the sample's
    int panning = -1;  // panning (8xx) given to every note without a first-row effect, -1 = none
};

struct PatternBuild {
    std::string name;
    XmPattern pattern;
    std::map<std::string, TrackState> tracks;
    std::vector<bool> touched; // channels already cleared in a pattern made "like" another
};

struct Compiler {
    CompiledSong* out = nullptr;
    std::map<std::string, std::string> macros;
    std::map<std::string, int> instrumentIds;
    std::map<std::string, size_t> patternIds;
    std::vector<PatternBuild> patterns;
    std::vector<std::string> orderNames;
    std::string orderWhere;
    int restart = -1;
    bool channelsFixed = false;
    std::string error;
};

bool fail(Compiler& c, const std::string& where, const std::string& text) {
    if (c.error.empty()) c.error = where + ": " + text;
    return false;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// Splits on blanks; a [ ... ] group and a "quoted text" stay one token.
std::vector<std::string> tokenize(const std::string& s) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < s.size()) {
        if (std::isspace(static_cast<unsigned char>(s[i]))) {
            ++i;
            continue;
        }
        size_t start = i;
        if (s[i] == '"') {
            size_t end = s.find('"', i + 1);
            i = end == std::string::npos ? s.size() : end + 1;
        } else {
            int depth = 0;
            while (i < s.size() && (depth > 0 || !std::isspace(static_cast<unsigned char>(s[i])))) {
                if (s[i] == '[')
                    ++depth;
                else if (s[i] == ']' && depth > 0)
                    --depth;
                ++i;
            }
        }
        tokens.push_back(s.substr(start, i - start));
    }
    return tokens;
}

bool parseInt(const std::string& s, long& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtol(s.c_str(), &end, 10);
    return end && *end == 0;
}

bool parseDouble(const std::string& s, double& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end && *end == 0 && std::isfinite(v);
}

bool parseHex(const std::string& s, long& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtol(s.c_str(), &end, 16);
    return end && *end == 0;
}

std::string unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// Reads a file into lines, following include lines.
bool readLines(Compiler& c, const std::string& text, const std::string& name, const std::string& dir,
               int depth, std::vector<Line>& lines) {
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        // '#' opens a comment at the start of a line or after a blank; in C#4 it is a sharp
        for (size_t h = raw.find('#'); h != std::string::npos; h = raw.find('#', h + 1))
            if (h == 0 || raw[h - 1] == ' ' || raw[h - 1] == '\t') {
                raw.erase(h);
                break;
            }
        std::string t = trim(raw);
        if (t.empty()) continue;
        std::string where = name + ":" + std::to_string(number);
        if (t.rfind("include ", 0) == 0) {
            if (depth >= maxIncludeDepth) return fail(c, where, "includes nest too deep");
            std::string file = unquote(trim(t.substr(8)));
            std::string path = dir.empty() ? file : dir + "/" + file;
            std::ifstream f(path, std::ios::binary);
            if (!f) return fail(c, where, "cannot open include file " + path);
            std::stringstream ss;
            ss << f.rdbuf();
            std::string subdir = path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/'));
            if (!readLines(c, ss.str(), path, subdir, depth + 1, lines)) return false;
            continue;
        }
        lines.push_back({t, where, raw[0] == ' ' || raw[0] == '\t'});
    }
    return true;
}

// Expands $macros and ( ... )*N groups into a flat token list.
bool expand(Compiler& c, const std::vector<std::string>& in, std::vector<std::string>& out, int depth,
            const std::string& where) {
    if (depth > maxMacroDepth) return fail(c, where, "macros nest too deep (a macro using itself?)");
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& t = in[i];
        if (out.size() > maxTokens) return fail(c, where, "track expands to too many events");
        if (t[0] == '$') {
            auto m = c.macros.find(t.substr(1));
            if (m == c.macros.end()) return fail(c, where, "unknown macro " + t);
            if (!expand(c, tokenize(m->second), out, depth + 1, where)) return false;
        } else if (t == "(") {
            int level = 1;
            size_t j = i + 1;
            for (; j < in.size(); ++j) {
                if (in[j] == "(")
                    ++level;
                else if (in[j].rfind(")", 0) == 0 && --level == 0)
                    break;
            }
            if (j == in.size()) return fail(c, where, "( without a closing )");
            long times = 1;
            std::string close = in[j];
            if (close != ")" &&
                (close.rfind(")*", 0) != 0 || !parseInt(close.substr(2), times) || times < 1 || times > 256))
                return fail(c, where, "a group closes with ) or )*N, N from 1 to 256");
            std::vector<std::string> inner(in.begin() + i + 1, in.begin() + j);
            for (long k = 0; k < times; ++k)
                if (!expand(c, inner, out, depth + 1, where)) return false;
            i = j;
        } else {
            out.push_back(t);
        }
    }
    return true;
}

// Effect text such as "446" or "A0F": an effect letter or digit and a hex parameter.
bool parseEffect(const std::string& s, uint8_t& effect, uint8_t& param) {
    if (s.size() != 3) return false;
    char e = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    if (e >= '0' && e <= '9')
        effect = static_cast<uint8_t>(e - '0');
    else if (e >= 'A' && e <= 'Z')
        effect = static_cast<uint8_t>(10 + e - 'A');
    else
        return false;
    long p = 0;
    if (!parseHex(s.substr(1), p) || p < 0 || p > 255) return false;
    param = static_cast<uint8_t>(p);
    return true;
}

struct Event {
    std::vector<int> notes; // note numbers; -1 rest, -2 key off
    int length = 0;
};

bool parseEvent(const std::string& token, const TrackState& st, Event& ev, std::string& why) {
    std::string body = token;
    ev.length = st.length;
    size_t slash = token.rfind('/');
    if (slash != std::string::npos && slash > 0 && token.find(']', slash) == std::string::npos) {
        long len = 0;
        if (!parseInt(token.substr(slash + 1), len) || len < 1 || len > 256) {
            why = "bad length in " + token;
            return false;
        }
        ev.length = static_cast<int>(len);
        body = token.substr(0, slash);
    }
    std::vector<std::string> names;
    if (body.size() >= 2 && body.front() == '[' && body.back() == ']') {
        std::string inner = body.substr(1, body.size() - 2);
        for (char& ch : inner)
            if (ch == ',') ch = ' ';
        names = tokenize(inner);
        if (names.empty()) {
            why = "empty chord";
            return false;
        }
    } else {
        names.push_back(body);
    }
    for (const std::string& n : names) {
        if (n == ".") {
            ev.notes.push_back(-1);
        } else if (n == "off") {
            ev.notes.push_back(-2);
        } else {
            int note = parseNoteName(n);
            if (note < 0) {
                why = "not a note: " + n;
                return false;
            }
            note += st.transpose;
            if (note < 0 || note > 95) {
                why = "note " + n + " transposed out of range";
                return false;
            }
            ev.notes.push_back(note);
        }
    }
    return true;
}

bool parseChannels(const std::string& spec, int channels, std::vector<int>& list) {
    std::string s = spec;
    for (char& ch : s)
        if (ch == ',') ch = ' ';
    for (const std::string& part : tokenize(s)) {
        size_t dash = part.find('-');
        long a = 0, b = 0;
        if (dash == std::string::npos) {
            if (!parseInt(part, a)) return false;
            b = a;
        } else if (!parseInt(part.substr(0, dash), a) || !parseInt(part.substr(dash + 1), b) || b < a) {
            return false;
        }
        for (long k = a; k <= b; ++k) {
            if (k < 1 || k > channels) return false;
            list.push_back(static_cast<int>(k - 1));
        }
    }
    return !list.empty();
}

// "50" or "50,80,B0": one value for every channel of a track, or one each.
bool parseValueList(const std::string& text, size_t channels, bool hex, long lo, long hi,
                    std::vector<long>& values) {
    values.clear();
    std::string s = text;
    for (char& ch : s)
        if (ch == ',') ch = ' ';
    for (const std::string& part : tokenize(s)) {
        long v = 0;
        if (!(hex ? parseHex(part, v) : parseInt(part, v)) || v < lo || v > hi) return false;
        values.push_back(v);
    }
    if (values.size() == 1) values.assign(channels, values[0]);
    return values.size() == channels;
}

bool compileTrack(Compiler& c, PatternBuild& pb, const std::string& chanSpec, const std::string& body,
                  const std::string& where) {
    XmSong& song = c.out->song;
    std::vector<int> chans;
    if (!parseChannels(chanSpec, song.channels, chans))
        return fail(c, where,
                    "bad channel list '" + chanSpec + "' (channels 1.." + std::to_string(song.channels) +
                        ")");
    std::string key;
    for (int ch : chans) {
        key += (key.empty() ? "" : ",") + std::to_string(ch + 1);
        if (!pb.touched[ch]) {
            // the first mention of a channel in a pattern "like" another replaces what was copied
            pb.touched[ch] = true;
            for (int r = 0; r < pb.pattern.rows; ++r)
                pb.pattern.cells[size_t(r) * song.channels + ch] = XmCell{};
        }
    }
    TrackState& st = pb.tracks[key];
    std::vector<std::string> tokens;
    if (!expand(c, tokenize(body), tokens, 0, where)) return false;

    int eventRow = -1, eventLength = 0;
    std::vector<bool> eventHasNote(chans.size(), false);
    auto cellAt = [&](int row, size_t k) -> XmCell& {
        return pb.pattern.cells[size_t(row) * song.channels + chans[k]];
    };
    for (const std::string& t : tokens) {
        char first = t[0];
        if (first == '@') {
            auto it = c.instrumentIds.find(t.substr(1));
            if (it == c.instrumentIds.end()) return fail(c, where, "unknown instrument " + t);
            st.instrument = it->second;
            continue;
        }
        if (first == '/' && t.size() > 1) {
            long len = 0;
            if (!parseInt(t.substr(1), len) || len < 1 || len > 256)
                return fail(c, where, "bad default length " + t);
            st.length = static_cast<int>(len);
            continue;
        }
        if (first == 't' && t.size() > 1 && (t[1] == '+' || t[1] == '-' || t[1] == '0')) {
            long tr = 0;
            if (!parseInt(t.substr(1), tr) || tr < -96 || tr > 96)
                return fail(c, where, "bad transposition " + t);
            st.transpose = static_cast<int>(tr);
            continue;
        }
        if (t.rfind("vol=", 0) == 0 || t.rfind("pan=", 0) == 0) {
            bool isVol = t[0] == 'v';
            long v = 0;
            if (t.substr(4) == "-")
                v = -1;
            else if (!(isVol ? parseInt(t.substr(4), v) : parseHex(t.substr(4), v)) || v < 0 ||
                     v > (isVol ? 64 : 255))
                return fail(c, where, "vol= takes 0..64 and pan= takes hex 00..FF (or - for none): " + t);
            (isVol ? st.volume : st.panning) = static_cast<int>(v);
            continue;
        }
        if (t == "clip") {
            st.clip = true;
            continue;
        }
        bool isModifier = first == 'v' || first == '~' || first == '=' || first == '>' || first == '%';
        if (isModifier && t != "off") {
            if (eventRow == -2) continue;
            if (eventRow < 0) return fail(c, where, "modifier " + t + " before any note");
            if (first == 'v') {
                std::vector<long> vols;
                if (!parseValueList(t.substr(1), chans.size(), false, 0, 64, vols))
                    return fail(c, where, "volume must be v0..v64, or one per channel as v40,30,30: " + t);
                for (size_t k = 0; k < chans.size(); ++k)
                    if (eventHasNote[k]) cellAt(eventRow, k).volume = static_cast<uint8_t>(0x10 + vols[k]);
                continue;
            }
            if (first == '%') {
                // raw volume-column command, %XX on the first row, %~XX on every row, %>XX after the first
                std::string rest = t.substr(1);
                char span = '=';
                if (!rest.empty() && (rest[0] == '~' || rest[0] == '>')) {
                    span = rest[0];
                    rest = rest.substr(1);
                }
                long vb = 0;
                if (rest.size() != 2 || !parseHex(rest, vb) || vb < 0x60)
                    return fail(c, where, "volume-column command must be %60..%FF: " + t);
                for (int r = eventRow; r < eventRow + eventLength; ++r) {
                    if ((span == '=' && r != eventRow) || (span == '>' && r == eventRow)) continue;
                    for (size_t k = 0; k < chans.size(); ++k)
                        cellAt(r, k).volume = static_cast<uint8_t>(vb);
                }
                continue;
            }
            uint8_t effect = 0, param = 0;
            std::vector<long> params;
            if (t.size() < 4 || !parseEffect(t.substr(1, 3), effect, param) || effect > 35 ||
                !parseValueList(t.substr(2), chans.size(), true, 0, 255, params))
                return fail(c, where, "bad effect " + t + " (write it like ~447, =A04 or =850,80,B0)");
            for (int r = eventRow; r < eventRow + eventLength; ++r) {
                if ((first == '=' && r != eventRow) || (first == '>' && r == eventRow)) continue;
                for (size_t k = 0; k < chans.size(); ++k) {
                    cellAt(r, k).effect = effect;
                    cellAt(r, k).param = static_cast<uint8_t>(params[k]);
                }
            }
            continue;
        }
        Event ev;
        std::string why;
        if (!parseEvent(t, st, ev, why)) return fail(c, where, why);
        if (ev.notes.size() > chans.size())
            return fail(c, where, "chord " + t + " has more notes than the track has channels");
        if (st.cursor + ev.length > pb.pattern.rows) {
            if (!st.clip)
                return fail(c, where, "track runs past the end of pattern " + pb.name + " (at " + t + ")");
            if (st.cursor >= pb.pattern.rows) {
                eventRow = -2; // dropped: its modifiers are dropped too
                continue;
            }
            ev.length = pb.pattern.rows - st.cursor;
        }
        eventRow = st.cursor;
        eventLength = ev.length;
        std::fill(eventHasNote.begin(), eventHasNote.end(), false);
        for (size_t k = 0; k < ev.notes.size(); ++k) {
            int n = ev.notes[k];
            if (n == -1) continue;
            XmCell& cell = cellAt(eventRow, k);
            if (n == -2) {
                cell.note = xmNoteKeyOff;
                cell.instrument = 0;
            } else {
                if (st.instrument == 0) return fail(c, where, "note " + t + " before any @instrument");
                cell.note = static_cast<uint8_t>(n + 1);
                cell.instrument = static_cast<uint8_t>(st.instrument);
                if (st.volume >= 0) cell.volume = static_cast<uint8_t>(0x10 + st.volume);
                if (st.panning >= 0) {
                    cell.effect = 8;
                    cell.param = static_cast<uint8_t>(st.panning);
                }
                eventHasNote[k] = true;
            }
        }
        st.cursor += ev.length;
    }
    return true;
}

bool keyValue(const std::string& token, std::string& key, double& value) {
    size_t eq = token.find('=');
    if (eq == std::string::npos) return false;
    key = token.substr(0, eq);
    return parseDouble(token.substr(eq + 1), value);
}

bool parseEnvelope(const std::vector<std::string>& args, XmEnvelope& env, std::string& why) {
    env = XmEnvelope{};
    for (const std::string& a : args) {
        if (a.rfind("sustain=", 0) == 0) {
            long p = 0;
            if (!parseInt(a.substr(8), p) || p < 0 || p > 11) {
                why = "bad sustain point " + a;
                return false;
            }
            env.sustain = static_cast<int>(p);
        } else if (a.rfind("loop=", 0) == 0) {
            std::string r = a.substr(5);
            size_t dash = r.find('-');
            long s = 0, e = 0;
            if (dash == std::string::npos || !parseInt(r.substr(0, dash), s) ||
                !parseInt(r.substr(dash + 1), e)) {
                why = "loop is written loop=START-END: " + a;
                return false;
            }
            env.loop_start = static_cast<int>(s);
            env.loop_end = static_cast<int>(e);
        } else {
            size_t colon = a.find(':');
            long x = 0, y = 0;
            if (colon == std::string::npos || !parseInt(a.substr(0, colon), x) ||
                !parseInt(a.substr(colon + 1), y) || x < 0 || x > 65535 || y < 0 || y > 64) {
                why = "envelope points are TICK:VALUE with VALUE 0..64: " + a;
                return false;
            }
            env.points.push_back({static_cast<uint16_t>(x), static_cast<uint16_t>(y)});
        }
    }
    return true;
}

bool compileInstrument(Compiler& c, const std::vector<Line>& body, const std::string& where,
                       XmInstrument& ins, double& rate) {
    SynthSpec spec;
    XmSample sample;
    sample.name = ins.name;
    for (const Line& l : body) {
        std::vector<std::string> tk = tokenize(l.text);
        const std::string& k = tk[0];
        std::vector<std::string> args(tk.begin() + 1, tk.end());
        double v = 0;
        std::string key, why;
        auto one = [&](double lo, double hi) {
            if (args.size() != 1 || !parseDouble(args[0], v) || v < lo || v > hi)
                return fail(c, l.where,
                            k + " takes one number from " + std::to_string(lo) + " to " + std::to_string(hi));
            return true;
        };
        if (k == "rate") {
            if (!one(4000, 96000)) return false;
            spec.rate = v;
        } else if (k == "base") {
            int n = args.size() == 1 ? parseNoteName(args[0]) : -1;
            if (n < 0) return fail(c, l.where, "base takes a note such as C-4");
            spec.base_note = n;
        } else if (k == "length") {
            if (!one(0, 8)) return false;
            spec.length = v;
        } else if (k == "loop") {
            if (!one(0, 8)) return false;
            spec.loop = v;
        } else if (k == "osc") {
            if (args.empty()) return fail(c, l.where, "osc needs a waveform: sine, saw, square or triangle");
            SynthOscillator o;
            const std::string& w = args[0];
            if (w == "sine")
                o.wave = waveSine;
            else if (w == "saw")
                o.wave = waveSaw;
            else if (w == "square")
                o.wave = waveSquare;
            else if (w == "triangle")
                o.wave = waveTriangle;
            else
                return fail(c, l.where, "unknown waveform " + w);
            for (size_t i = 1; i < args.size(); ++i) {
                if (!keyValue(args[i], key, v))
                    return fail(c, l.where, "osc options are key=value: " + args[i]);
                if (key == "level")
                    o.level = v;
                else if (key == "ratio" && v > 0 && v <= 32)
                    o.ratio = v;
                else if (key == "cents" && std::fabs(v) <= 2400)
                    o.cents = v;
                else if (key == "width" && v > 0 && v < 1)
                    o.width = v;
                else
                    return fail(c, l.where, "bad osc option " + args[i]);
            }
            spec.oscillators.push_back(o);
        } else if (k == "noise") {
            if (!one(0, 4)) return false;
            spec.noise = v;
        } else if (k == "seed") {
            if (!one(1, 4294967295.0)) return false;
            spec.seed = static_cast<uint32_t>(v);
        } else if (k == "pitch" || k == "amp" || k == "filter") {
            size_t i = 0;
            if (k == "filter") {
                if (args.empty())
                    return fail(c, l.where, "filter needs a type: lowpass, highpass or bandpass");
                if (args[0] == "lowpass")
                    spec.filter = filterLowpass;
                else if (args[0] == "highpass")
                    spec.filter = filterHighpass;
                else if (args[0] == "bandpass")
                    spec.filter = filterBandpass;
                else
                    return fail(c, l.where, "unknown filter " + args[0]);
                i = 1;
            }
            for (; i < args.size(); ++i) {
                if (!keyValue(args[i], key, v) || v < 0)
                    return fail(c, l.where, k + " options are key=value with values from 0: " + args[i]);
                if (k == "pitch" && key == "from" && v > 0 && v <= 16)
                    spec.pitch_from = v;
                else if (k == "pitch" && key == "time" && v <= 8)
                    spec.pitch_time = v;
                else if (k == "amp" && key == "attack" && v <= 8)
                    spec.attack = v;
                else if (k == "amp" && key == "decay" && v <= 8)
                    spec.decay = v;
                else if (k == "amp" && key == "sustain" && v <= 1)
                    spec.sustain = v;
                else if (k == "filter" && key == "cutoff" && v >= 10 && v <= 48000)
                    spec.cutoff = v;
                else if (k == "filter" && key == "to" && v >= 10 && v <= 48000)
                    spec.cutoff_to = v;
                else if (k == "filter" && key == "time" && v > 0 && v <= 8)
                    spec.cutoff_time = v;
                else if (k == "filter" && key == "q" && v >= 0.1 && v <= 20)
                    spec.resonance = v;
                else
                    return fail(c, l.where, "bad " + k + " option " + args[i]);
            }
        } else if (k == "drive") {
            if (!one(0, 20)) return false;
            spec.drive = v;
        } else if (k == "volume") {
            if (!one(0, 64)) return false;
            sample.volume = static_cast<uint8_t>(v);
        } else if (k == "panning") {
            if (!one(0, 255)) return false;
            sample.panning = static_cast<uint8_t>(v);
        } else if (k == "volenv" || k == "panenv") {
            XmEnvelope& env = k == "volenv" ? ins.volume_envelope : ins.panning_envelope;
            if (!parseEnvelope(args, env, why)) return fail(c, l.where, why);
        } else if (k == "fadeout") {
            if (!one(0, 4095)) return false;
            ins.fadeout = static_cast<uint16_t>(v);
        } else if (k == "vibrato") {
            if (args.empty())
                return fail(c, l.where, "vibrato needs a waveform: sine, square, rampup or rampdown");
            static const char* const types[] = {"sine", "square", "rampup", "rampdown"};
            auto at = std::find(std::begin(types), std::end(types), args[0]);
            if (at == std::end(types)) return fail(c, l.where, "unknown vibrato waveform " + args[0]);
            ins.vibrato_type = static_cast<uint8_t>(at - std::begin(types));
            for (size_t i = 1; i < args.size(); ++i) {
                if (!keyValue(args[i], key, v) || v < 0 || v > 255)
                    return fail(c, l.where, "vibrato options are sweep=, depth=, rate= from 0 to 255");
                if (key == "sweep")
                    ins.vibrato_sweep = static_cast<uint8_t>(v);
                else if (key == "depth" && v <= 15)
                    ins.vibrato_depth = static_cast<uint8_t>(v);
                else if (key == "rate" && v <= 63)
                    ins.vibrato_rate = static_cast<uint8_t>(v);
                else
                    return fail(c, l.where, "bad vibrato option " + args[i]);
            }
        } else {
            return fail(c, l.where, "unknown instrument property " + k);
        }
    }
    SynthResult r;
    std::string why;
    if (!synthesise(spec, r, why)) return fail(c, where, "instrument " + ins.name + ": " + why);
    sample.data = std::move(r.frames);
    sample.loop_start = r.loop_start;
    sample.loop_length = r.loop_length;
    sample.loop = r.loop_length ? xmLoopForward : xmLoopNone;
    sample.relative_note = r.relative_note;
    sample.finetune = r.finetune;
    ins.samples.push_back(std::move(sample));
    ins.note_map.fill(0);
    rate = spec.rate;
    XmSong probe;
    probe.instruments.push_back(ins);
    probe.orders.push_back(0);
    probe.patterns.resize(1);
    probe.patterns[0].cells.resize(64 * probe.channels);
    std::string msg;
    if (!xmValidate(probe, msg)) return fail(c, where, msg);
    return true;
}

bool compileLines(Compiler& c, const std::vector<Line>& lines) {
    XmSong& song = c.out->song;
    size_t i = 0;
    while (i < lines.size()) {
        const Line& l = lines[i];
        if (l.indented) return fail(c, l.where, "indented line outside an instrument or pattern");
        std::vector<std::string> tk = tokenize(l.text);
        const std::string& k = tk[0];
        size_t next = i + 1;
        while (next < lines.size() && lines[next].indented)
            ++next;
        std::vector<Line> body(lines.begin() + i + 1, lines.begin() + next);
        long v = 0;
        if (k == "song") {
            if (tk.size() != 2) return fail(c, l.where, "song takes a quoted name");
            song.name = unquote(tk[1]);
        } else if (k == "channels" || k == "speed" || k == "tempo" || k == "restart") {
            if (tk.size() != 2 || !parseInt(tk[1], v)) return fail(c, l.where, k + " takes a number");
            if (k == "channels") {
                if (v < 1 || v > 32 || c.channelsFixed)
                    return fail(c, l.where, "channels must be 1..32, given once before any pattern");
                song.channels = static_cast<uint16_t>(v);
            } else if (k == "speed") {
                if (v < 1 || v > 31) return fail(c, l.where, "speed must be 1..31");
                song.speed = static_cast<uint16_t>(v);
            } else if (k == "tempo") {
                if (v < 32 || v > 255) return fail(c, l.where, "tempo must be 32..255");
                song.tempo = static_cast<uint16_t>(v);
            } else {
                if (v < 0 || v > 255) return fail(c, l.where, "restart must be an order position");
                c.restart = static_cast<int>(v);
            }
        } else if (k == "frequencies") {
            if (tk.size() != 2 || (tk[1] != "linear" && tk[1] != "amiga"))
                return fail(c, l.where, "frequencies is linear or amiga");
            song.linear_frequencies = tk[1] == "linear";
        } else if (k == "define") {
            if (tk.size() < 2) return fail(c, l.where, "define needs a name");
            // the body is the text after the name (searched after the keyword, as the name may be "e")
            std::string rest = trim(l.text.substr(l.text.find(tk[1], 6) + tk[1].size()));
            c.macros[tk[1]] = rest;
        } else if (k == "order") {
            c.orderNames.assign(tk.begin() + 1, tk.end());
            c.orderWhere = l.where;
        } else if (k == "instrument") {
            if (tk.size() < 2 || tk.size() > 3)
                return fail(c, l.where, "instrument takes an id and an optional quoted name");
            if (c.instrumentIds.count(tk[1]))
                return fail(c, l.where, "instrument " + tk[1] + " defined twice");
            if (song.instruments.size() >= 128) return fail(c, l.where, "at most 128 instruments");
            XmInstrument ins;
            ins.name = tk.size() == 3 ? unquote(tk[2]) : tk[1];
            double rate = 0;
            if (!compileInstrument(c, body, l.where, ins, rate)) return false;
            song.instruments.push_back(std::move(ins));
            c.out->sample_rates.push_back(rate);
            c.instrumentIds[tk[1]] = static_cast<int>(song.instruments.size());
        } else if (k == "pattern") {
            c.channelsFixed = true;
            if (tk.size() < 2) return fail(c, l.where, "pattern needs a name");
            if (c.patternIds.count(tk[1])) return fail(c, l.where, "pattern " + tk[1] + " defined twice");
            PatternBuild pb;
            pb.name = tk[1];
            pb.pattern.rows = 64;
            bool copied = false;
            long rows = -1;
            for (size_t a = 2; a < tk.size(); a += 2) {
                if (a + 1 >= tk.size())
                    return fail(c, l.where, "pattern options are 'like NAME' and 'rows N'");
                if (tk[a] == "rows") {
                    if (!parseInt(tk[a + 1], rows) || rows < 1 || rows > 256)
                        return fail(c, l.where, "rows must be 1..256");
                } else if (tk[a] == "like") {
                    auto it = c.patternIds.find(tk[a + 1]);
                    if (it == c.patternIds.end()) return fail(c, l.where, "unknown pattern " + tk[a + 1]);
                    pb.pattern = c.patterns[it->second].pattern;
                    copied = true;
                } else {
                    return fail(c, l.where, "pattern options are 'like NAME' and 'rows N'");
                }
            }
            // A row count of its own wins over the copied one: the copy keeps the rows that fit.
            if (rows > 0) pb.pattern.rows = static_cast<uint16_t>(rows);
            if (copied)
                pb.pattern.cells.resize(size_t(pb.pattern.rows) * song.channels);
            else
                pb.pattern.cells.assign(size_t(pb.pattern.rows) * song.channels, XmCell{});
            pb.touched.assign(song.channels, !copied);
            for (const Line& bl : body) {
                size_t colon = bl.text.find(':');
                if (colon == std::string::npos)
                    return fail(c, bl.where, "a track line starts with its channels, as in '3: C-4/8'");
                if (!compileTrack(c, pb, trim(bl.text.substr(0, colon)), bl.text.substr(colon + 1), bl.where))
                    return false;
            }
            // A gliding note keeps the instrument already sounding: an instrument byte
            // would reset the volume and panning in the middle of the glide.
            for (XmCell& cell : pb.pattern.cells)
                if (cell.note >= 1 && cell.note <= 96 &&
                    (cell.effect == 3 || cell.effect == 5 || cell.volume >= 0xF0))
                    cell.instrument = 0;
            // a track that stops short is nearly always a miscounted bar
            for (const auto& [key, st] : pb.tracks)
                if (!st.clip && st.cursor != pb.pattern.rows)
                    return fail(c, l.where,
                                "pattern " + pb.name + ": the track of channel(s) " + key + " fills " +
                                    std::to_string(st.cursor) + " of " + std::to_string(pb.pattern.rows) +
                                    " rows (end it with a rest)");
            c.patternIds[pb.name] = c.patterns.size();
            c.patterns.push_back(std::move(pb));
        } else {
            return fail(c, l.where, "unknown keyword " + k);
        }
        i = next;
        if (k != "instrument" && k != "pattern" && !body.empty())
            return fail(c, body[0].where, "indented line outside an instrument or pattern");
    }
    return true;
}

} // namespace

int parseNoteName(const std::string& text) {
    static constexpr int semis[7] = {9, 11, 0, 2, 4, 5, 7}; // A..G
    if (text.size() != 3) return -1;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G' || text[2] < '0' || text[2] > '7') return -1;
    int s = semis[letter - 'A'];
    if (text[1] == '#')
        ++s;
    else if (text[1] == 'b')
        --s;
    else if (text[1] != '-')
        return -1;
    int n = (text[2] - '0') * 12 + s;
    return n >= 0 && n <= 95 ? n : -1;
}

bool compileSongText(const std::string& text, const std::string& source_name, const std::string& base_dir,
                     CompiledSong& out, std::string& message) {
    out = CompiledSong{};
    Compiler c;
    c.out = &out;
    std::vector<Line> lines;
    if (!readLines(c, text, source_name, base_dir, 0, lines) || !compileLines(c, lines)) {
        message = c.error;
        return false;
    }
    XmSong& song = out.song;
    if (c.patterns.empty()) {
        message = source_name + ": no patterns";
        return false;
    }
    if (c.orderNames.empty()) {
        message = source_name + ": no order line";
        return false;
    }
    for (const PatternBuild& pb : c.patterns)
        song.patterns.push_back(pb.pattern);
    // Instruments no pattern plays (a shared drum kit has more than a song needs)
    // stay out of the file; the others are numbered afresh in their order.
    std::vector<int> renumber(song.instruments.size() + 1, 0);
    for (const XmPattern& p : song.patterns)
        for (const XmCell& cell : p.cells)
            if (cell.instrument) renumber[cell.instrument] = 1;
    std::vector<XmInstrument> kept;
    std::vector<double> keptRates;
    for (size_t i = 1; i < renumber.size(); ++i)
        if (renumber[i]) {
            kept.push_back(std::move(song.instruments[i - 1]));
            keptRates.push_back(out.sample_rates[i - 1]);
            renumber[i] = static_cast<int>(kept.size());
        }
    song.instruments = std::move(kept);
    out.sample_rates = std::move(keptRates);
    for (XmPattern& p : song.patterns)
        for (XmCell& cell : p.cells)
            cell.instrument = static_cast<uint8_t>(renumber[cell.instrument]);
    for (const std::string& n : c.orderNames) {
        auto it = c.patternIds.find(n);
        if (it == c.patternIds.end()) {
            message = c.orderWhere + ": unknown pattern " + n + " in the order";
            return false;
        }
        song.orders.push_back(static_cast<uint8_t>(it->second));
    }
    // Without a restart line the song rests on its last position rather than starting over.
    song.restart_position = static_cast<uint16_t>(c.restart >= 0 ? c.restart : int(song.orders.size()) - 1);
    if (!xmValidate(song, message)) {
        message = source_name + ": " + message;
        return false;
    }
    return true;
}

bool compileSongFile(const std::string& path, CompiledSong& out, std::string& message) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        message = "cannot open " + path;
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    std::string dir = path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/'));
    return compileSongText(ss.str(), path, dir, out, message);
}
