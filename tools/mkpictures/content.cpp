#include "content.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

static bool failed = false;

static std::string trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    std::size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

bool parseSettings(const std::string& text, const std::string& source, Settings& out) {
    out.source = source;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        std::size_t eq = t.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "%s:%d: expected \"key = value\"\n", source.c_str(), number);
            return false;
        }
        std::string key = trim(t.substr(0, eq));
        if (key.empty()) {
            std::fprintf(stderr, "%s:%d: missing key before \"=\"\n", source.c_str(), number);
            return false;
        }
        if (!out.values.count(key)) out.order.push_back(key);
        out.values[key] = trim(t.substr(eq + 1));
    }
    return true;
}

bool loadSettings(const std::string& path, Settings& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "mkpictures: cannot read %s\n", path.c_str());
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    return parseSettings(ss.str(), path, out);
}

std::string settingText(const Settings& s, const std::string& key) {
    auto it = s.values.find(key);
    if (it == s.values.end()) {
        std::fprintf(stderr, "%s: missing \"%s\"\n", s.source.c_str(), key.c_str());
        failed = true;
        return {};
    }
    if (it->second.empty()) {
        std::fprintf(stderr, "%s: \"%s\" is empty\n", s.source.c_str(), key.c_str());
        failed = true;
    }
    return it->second;
}

bool parseColour(const std::string& text, Rgb& out) {
    if (text.size() != 7 || text[0] != '#') return false;
    for (std::size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    unsigned long v = std::strtoul(text.c_str() + 1, nullptr, 16);
    out = {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
    return true;
}

bool parseGradient(const std::string& text, Gradient& out) {
    out.clear();
    std::istringstream in(text);
    std::string stop;
    while (in >> stop) {
        std::size_t at = stop.find('@');
        if (at == std::string::npos) return false;
        GradientStop g;
        if (!parseColour(stop.substr(0, at), g.colour)) return false;
        char* end = nullptr;
        std::string pos = stop.substr(at + 1);
        g.at = std::strtod(pos.c_str(), &end);
        if (pos.empty() || *end != '\0' || !(g.at >= 0 && g.at <= 1)) return false; // NaN fails too
        if (!out.empty() && g.at < out.back().at) return false;
        out.push_back(g);
    }
    return !out.empty();
}

Rgb settingColour(const Settings& s, const std::string& key) {
    Rgb c{0, 0, 0};
    std::string t = settingText(s, key);
    if (!t.empty() && !parseColour(t, c)) {
        std::fprintf(stderr, "%s: \"%s\" is not a colour #RRGGBB\n", s.source.c_str(), key.c_str());
        failed = true;
    }
    return c;
}

Gradient settingGradient(const Settings& s, const std::string& key) {
    Gradient g;
    std::string t = settingText(s, key);
    if (!t.empty() && !parseGradient(t, g)) {
        std::fprintf(stderr, "%s: \"%s\" is not a gradient of #RRGGBB@position stops\n", s.source.c_str(),
                     key.c_str());
        failed = true;
        g = {{0, {0, 0, 0}}, {1, {1, 1, 1}}};
    }
    return g;
}

double settingNumber(const Settings& s, const std::string& key, double fallback, double lo, double hi) {
    auto it = s.values.find(key);
    if (it == s.values.end()) return fallback;
    char* end = nullptr;
    double v = std::strtod(it->second.c_str(), &end);
    if (it->second.empty() || *end != '\0' || !(v >= lo && v <= hi)) {
        std::fprintf(stderr, "%s: \"%s\" is not a number from %g to %g\n", s.source.c_str(), key.c_str(), lo,
                     hi);
        failed = true;
        return fallback;
    }
    return v;
}

void markSettingsFailed() {
    failed = true;
}

bool settingsFailed() {
    return failed;
}
