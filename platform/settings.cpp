// The settings store (see platform.h). With a settings folder every key is one file in it, named
// by the key's path with each part lower-cased and every byte other than a-z, 0-9, '-' and '_'
// written as %XX, the parts joined by '.': "Software/Virez" is software.virez.key, "a.b" is
// a%2eb.key, "a_b" a_b.key, so paths that differ never share a file. One value a line:
//   MixingRate=dword:0000ac44          a 4-byte number, hexadecimal
//   Name=text:any text%0Awith escapes  a text; '%', control bytes and DEL as %XX
//   Other=hex(3):01,02,03              anything else: the type and every byte
// Lines starting with ';' are comments. Files are untrusted: sizes are bounded, a line that does
// not parse is dropped and the rest of the file still counts, and a file too large to be ours
// makes the key fail to open rather than be overwritten. Saving writes a temporary file in the
// same folder, flushes it to the disk and renames it over the old one.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/host.h"

namespace {

struct Value {
    std::string name; // as first written
    std::uint32_t type;
    std::string bytes;
};

using Values = std::vector<Value>;

constexpr std::size_t maxFileBytes = 256 * 1024;
constexpr std::size_t maxNameLength = 255;  // a value name or one part of a key path
constexpr std::size_t maxValueBytes = 4096;
constexpr std::size_t maxFileNameLength = 240;
constexpr std::size_t maxParts = 32;

std::map<std::string, Values> memoryKeys; // by file name, when there is no settings folder

Value* findValue(Values& values, const char* name) {
    for (Value& value : values)
        if (strcasecmp(value.name.c_str(), name) == 0) return &value;
    return nullptr;
}

// Splits a key path into its parts; false when a part is empty or too long.
bool splitPath(const char* path, std::vector<std::string>* parts) {
    std::string part;
    for (const char* c = path;; ++c) {
        if (*c == '/' || *c == '\\' || *c == '\0') {
            if (part.empty() || part.size() > maxNameLength) return false;
            parts->push_back(part);
            part.clear();
            if (*c == '\0') break;
            continue;
        }
        part += *c;
    }
    return parts->size() <= maxParts;
}

bool plainByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

void appendEscaped(std::string* out, unsigned char c) {
    static const char hex[] = "0123456789abcdef";
    *out += '%';
    *out += hex[c >> 4];
    *out += hex[c & 15];
}

// The file name of a key: empty when it would be too long for the file system.
std::string fileNameOf(const std::vector<std::string>& parts) {
    std::string name;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) name += '.';
        for (char raw : parts[i]) {
            const auto c = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(raw)));
            if (plainByte(c))
                name += static_cast<char>(c);
            else
                appendEscaped(&name, c);
        }
    }
    name += ".key";
    return name.size() > maxFileNameLength ? std::string() : name;
}

// Text as written into a file: '%', control bytes, DEL and (in names) '=' and ';' escaped.
std::string escapeText(const std::string& text, bool isName) {
    std::string out;
    for (char raw : text) {
        const auto c = static_cast<unsigned char>(raw);
        if (c == '%' || c < 0x20 || c == 0x7F || (isName && (c == '=' || c == ';')))
            appendEscaped(&out, c);
        else
            out += raw;
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unescapeText(const std::string& text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool parseLine(const std::string& line, Values* values) {
    if (line.empty() || line[0] == ';') return true;
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos) return false;
    Value value{};
    if (!unescapeText(line.substr(0, equals), &value.name) || value.name.size() > maxNameLength ||
        value.name.find('\0') != std::string::npos)
        return false;
    const std::string rest = line.substr(equals + 1);
    if (rest.rfind("dword:", 0) == 0) {
        const std::string digits = rest.substr(6);
        if (digits.size() != 8) return false;
        std::uint32_t number = 0;
        for (char d : digits) {
            const int v = hexDigit(d);
            if (v < 0) return false;
            number = number * 16 + static_cast<std::uint32_t>(v);
        }
        value.type = settingsDword;
        for (int i = 0; i < 4; ++i)
            value.bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
    } else if (rest.rfind("text:", 0) == 0) {
        if (!unescapeText(rest.substr(5), &value.bytes) || value.bytes.find('\0') != std::string::npos)
            return false;
        value.type = settingsText;
        value.bytes += '\0';
    } else if (rest.rfind("hex(", 0) == 0) {
        const std::size_t close = rest.find("):");
        if (close == std::string::npos || close == 4 || close > 14) return false;
        unsigned long long type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            type = type * 10 + static_cast<unsigned>(rest[i] - '0');
        }
        if (type > 0xFFFFFFFFull) return false;
        value.type = static_cast<std::uint32_t>(type);
        const std::string bytes = rest.substr(close + 2);
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            if (i + 2 > bytes.size() || (i + 2 < bytes.size() && bytes[i + 2] != ',')) return false;
            const int high = hexDigit(bytes[i]), low = hexDigit(bytes[i + 1]);
            if (high < 0 || low < 0) return false;
            value.bytes += static_cast<char>(high * 16 + low);
        }
    } else {
        return false;
    }
    if (value.bytes.size() > maxValueBytes) return false;
    if (Value* old = findValue(*values, value.name.c_str()))
        *old = value;
    else
        values->push_back(value);
    return true;
}

std::string formatValue(const Value& value) {
    std::string line = escapeText(value.name, true) + "=";
    const std::string& b = value.bytes;
    if (value.type == settingsDword && b.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = number << 8 | static_cast<unsigned char>(b[static_cast<std::size_t>(i)]);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", number);
        return line + "dword:" + digits;
    }
    if (value.type == settingsText && !b.empty() && b.find('\0') == b.size() - 1)
        return line + "text:" + escapeText(b.substr(0, b.size() - 1), false);
    line += "hex(" + std::to_string(value.type) + "):";
    for (std::size_t i = 0; i < b.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", static_cast<unsigned char>(b[i]));
        line += byte;
    }
    return line;
}

enum class FileState { missing, read, unusable };

FileState readFile(const std::string& file, Values* values) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return errno == ENOENT ? FileState::missing : FileState::unusable;
    std::string data;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && data.size() <= maxFileBytes)
        data.append(chunk, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed || data.size() > maxFileBytes) return FileState::unusable;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        parseLine(line, values);
        start = end + 1;
    }
    return FileState::read;
}

bool makeFolders(const std::string& folder) {
    for (std::size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1))
        mkdir(folder.substr(0, at).c_str(), 0700);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info{};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeFile(const std::string& folder, const std::string& file, const std::string& path, const Values& values) {
    if (!makeFolders(folder)) return false;
    std::string text = "; " + escapeText(path, false) + "\n";
    for (const Value& value : values)
        text += formatValue(value) + "\n";
    std::string temporary = file + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    // On the disk before the rename, so the new name never points at half a file.
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && std::rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

const char* storeFolder() {
    return platformBackend()->settingsFolder();
}

bool validName(const char* name) {
    return name && *name && std::strlen(name) <= maxNameLength;
}

} // namespace

struct SettingsKey {
    std::vector<std::string> parts;
    std::string path;     // the parts joined with '/', as the caller wrote them
    std::string fileName; // the key's file (and its name in memory)
    Values values;
    int dirty;
};

namespace {

// Makes a key's file or memory entry exist, empty, unless it is there already.
bool touchKey(const std::vector<std::string>& parts) {
    const std::string name = fileNameOf(parts);
    if (name.empty()) return false;
    std::string path;
    for (const std::string& part : parts)
        path += (path.empty() ? "" : "/") + part;
    if (const char* folder = storeFolder()) {
        const std::string file = std::string(folder) + "/" + name;
        if (access(file.c_str(), F_OK) == 0) return true;
        return writeFile(folder, file, path, {});
    }
    memoryKeys.try_emplace(name);
    return true;
}

} // namespace

SettingsKey* settingsOpen(SettingsKey* parent, const char* path, int create) {
    if (!path) return nullptr;
    std::vector<std::string> parts = parent ? parent->parts : std::vector<std::string>{};
    if (*path && !splitPath(path, &parts)) return nullptr;
    if (parts.empty() || parts.size() > maxParts) return nullptr;
    const std::string fileName = fileNameOf(parts);
    if (fileName.empty()) return nullptr;
    auto* key = new SettingsKey{parts, {}, fileName, {}, 0};
    for (const std::string& part : parts)
        key->path += (key->path.empty() ? "" : "/") + part;
    bool exists = false;
    if (const char* folder = storeFolder()) {
        const FileState state = readFile(std::string(folder) + "/" + fileName, &key->values);
        if (state == FileState::unusable) {
            delete key;
            return nullptr;
        }
        exists = state == FileState::read;
    } else if (const auto found = memoryKeys.find(fileName); found != memoryKeys.end()) {
        exists = true;
        key->values = found->second;
    }
    if (!exists && !create) {
        delete key;
        return nullptr;
    }
    if (!exists) {
        // As in the registry, making a key makes the keys above it.
        for (std::size_t n = 1; n < parts.size(); ++n)
            touchKey(std::vector<std::string>(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n)));
        key->dirty = 1; // a created key is stored even when nothing is written to it
    }
    return key;
}

int settingsGetValue(SettingsKey* key, const char* name, std::uint32_t* type, void* data, std::uint32_t* size) {
    if (!key || !name) return settingsFailed;
    const Value* value = findValue(key->values, name);
    if (!value) return settingsMissing;
    if (type) *type = value->type;
    const auto bytes = static_cast<std::uint32_t>(value->bytes.size());
    if (data) {
        if (!size || *size < bytes) {
            if (size) *size = bytes;
            return settingsFailed;
        }
        std::memcpy(data, value->bytes.data(), bytes);
    }
    if (size) *size = bytes;
    return settingsOk;
}

int settingsSetValue(SettingsKey* key, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
    if (!key || !validName(name) || size > maxValueBytes || (size && !data)) return settingsFailed;
    Value value{name, type, std::string(static_cast<const char*>(data), size)};
    if (Value* old = findValue(key->values, name)) {
        value.name = old->name;
        *old = value;
    } else {
        key->values.push_back(value);
    }
    key->dirty = 1;
    return settingsOk;
}

int settingsGetDword(SettingsKey* key, const char* name, std::uint32_t* value) {
    if (!value) return settingsFailed;
    std::uint32_t type = 0, size = 0;
    const int result = settingsGetValue(key, name, &type, nullptr, &size);
    if (result != settingsOk) return result;
    if (type != settingsDword || size != 4) return settingsWrongType;
    std::uint8_t bytes[4];
    settingsGetValue(key, name, nullptr, bytes, &size);
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return settingsOk;
}

int settingsSetDword(SettingsKey* key, const char* name, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return settingsSetValue(key, name, settingsDword, bytes, 4);
}

int settingsGetText(SettingsKey* key, const char* name, char* buffer, std::size_t size) {
    if (!key || !name || !buffer || size == 0) return settingsFailed;
    const Value* value = findValue(key->values, name);
    if (!value) return settingsMissing;
    if (value->type != settingsText) return settingsWrongType;
    const std::string text = value->bytes.substr(0, value->bytes.find('\0'));
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return settingsOk;
}

int settingsSetText(SettingsKey* key, const char* name, const char* text) {
    if (!text) return settingsFailed;
    return settingsSetValue(key, name, settingsText, text, static_cast<std::uint32_t>(std::strlen(text) + 1));
}

int settingsClose(SettingsKey* key) {
    if (!key) return settingsFailed;
    int result = settingsOk;
    if (key->dirty) {
        if (const char* folder = storeFolder())
            result = writeFile(folder, std::string(folder) + "/" + key->fileName, key->path, key->values)
                         ? settingsOk
                         : settingsFailed;
        else
            memoryKeys[key->fileName] = key->values;
    }
    delete key;
    return result;
}

std::string settingsUserFolder() {
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/morva";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config/morva";
    return {};
}

std::string settingsFolder() {
    const char* folder = platformBackend() ? storeFolder() : nullptr;
    return folder ? folder : "";
}
