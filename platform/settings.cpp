// The settings store. A key is a set of named values, each a 32-bit number or a text. With a
// settings folder from the back end every key is one text file in it, one value a line:
//   name=dword:12345
//   name=text:anything up to the end of the line
// otherwise keys live in memory for the run (headless runs must not depend on the machine).
// Files are untrusted: size, line and name lengths are bounded; a line that does not parse is
// dropped and the rest of the file still counts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>

#include "platform/host.h"

namespace {

struct Value {
    int isText;
    std::uint32_t number;
    std::string text;
};

using Values = std::map<std::string, Value>;

constexpr std::size_t maxFileBytes = 64 * 1024;
constexpr std::size_t maxNameLength = 255;
constexpr std::size_t maxTextLength = 1024;

std::map<std::string, Values> memoryKeys;

std::string fileFor(const char* folder, const std::string& path) {
    std::string name;
    for (char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.';
        name += plain ? c : '_';
    }
    return std::string(folder) + "/" + name + ".cfg";
}

bool validName(const char* name) {
    if (!name || !*name) return false;
    const std::size_t length = std::strlen(name);
    if (length > maxNameLength) return false;
    return std::strpbrk(name, "=\n\r") == nullptr;
}

bool parseLine(const std::string& line, Values* values) {
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos || equals > maxNameLength) return false;
    const std::string name = line.substr(0, equals);
    const std::string rest = line.substr(equals + 1);
    if (rest.rfind("dword:", 0) == 0) {
        const std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 10 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const unsigned long long number = std::strtoull(digits.c_str(), nullptr, 10);
        if (number > 0xFFFFFFFFull) return false;
        (*values)[name] = {0, static_cast<std::uint32_t>(number), {}};
        return true;
    }
    if (rest.rfind("text:", 0) == 0) {
        if (rest.size() - 5 > maxTextLength) return false;
        (*values)[name] = {1, 0, rest.substr(5)};
        return true;
    }
    return false;
}

bool readFile(const std::string& file, Values* values) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    std::string data;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && data.size() < maxFileBytes)
        data.append(chunk, n);
    std::fclose(f);
    if (data.size() > maxFileBytes) data.resize(maxFileBytes);
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        parseLine(line, values);
        start = end + 1;
    }
    return true;
}

bool writeFile(const char* folder, const std::string& file, const Values& values) {
    // Make the folder and its parents; existing ones are fine, a real failure shows at fopen.
    const std::string path = folder;
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(folder, 0755);
    const std::string temporary = file + ".new";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (const auto& [name, value] : values) {
        if (value.isText)
            ok = ok && std::fprintf(f, "%s=text:%s\n", name.c_str(), value.text.c_str()) > 0;
        else
            ok = ok && std::fprintf(f, "%s=dword:%u\n", name.c_str(), value.number) > 0;
    }
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temporary.c_str(), file.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

struct SettingsKey {
    std::string path;
    Values values;
    int dirty;
};

SettingsKey* settingsOpen(const char* path, int create) {
    if (!path || !*path) return nullptr;
    auto* key = new SettingsKey{path, {}, 0};
    const char* folder = platformBackend()->settingsFolder();
    bool exists;
    if (folder) {
        exists = readFile(fileFor(folder, key->path), &key->values);
    } else {
        const auto found = memoryKeys.find(key->path);
        exists = found != memoryKeys.end();
        if (exists) key->values = found->second;
    }
    if (!exists && !create) {
        delete key;
        return nullptr;
    }
    key->dirty = !exists; // a created key is stored even when nothing is written to it
    return key;
}

int settingsGetDword(SettingsKey* key, const char* name, std::uint32_t* value) {
    if (!key || !name || !value) return settingsFailed;
    const auto found = key->values.find(name);
    if (found == key->values.end()) return settingsMissing;
    if (found->second.isText) return settingsWrongType;
    *value = found->second.number;
    return settingsOk;
}

int settingsSetDword(SettingsKey* key, const char* name, std::uint32_t value) {
    if (!key || !validName(name)) return settingsFailed;
    key->values[name] = {0, value, {}};
    key->dirty = 1;
    return settingsOk;
}

int settingsGetText(SettingsKey* key, const char* name, char* buffer, std::size_t size) {
    if (!key || !name || !buffer || size == 0) return settingsFailed;
    const auto found = key->values.find(name);
    if (found == key->values.end()) return settingsMissing;
    if (!found->second.isText) return settingsWrongType;
    const std::size_t n = std::min(found->second.text.size(), size - 1);
    std::memcpy(buffer, found->second.text.data(), n);
    buffer[n] = '\0';
    return settingsOk;
}

int settingsSetText(SettingsKey* key, const char* name, const char* text) {
    if (!key || !validName(name) || !text) return settingsFailed;
    const std::size_t length = std::strlen(text);
    if (length > maxTextLength || std::strpbrk(text, "\n\r")) return settingsFailed;
    key->values[name] = {1, 0, text};
    key->dirty = 1;
    return settingsOk;
}

int settingsClose(SettingsKey* key) {
    if (!key) return settingsFailed;
    int result = settingsOk;
    if (key->dirty) {
        const char* folder = platformBackend()->settingsFolder();
        if (folder)
            result = writeFile(folder, fileFor(folder, key->path), key->values) ? settingsOk : settingsFailed;
        else
            memoryKeys[key->path] = key->values;
    }
    delete key;
    return result;
}
