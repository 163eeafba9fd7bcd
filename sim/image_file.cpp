#include "image_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "image_document.h"

namespace vek::sim {

namespace {

std::optional<int> registerNumber(const std::string& key)
{
    int n = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
    if (key.empty() || ec != std::errc{} || end != key.data() + key.size())
        return std::nullopt;
    return n;
}

bool claim(ImageLoad& load, int n, const char* what)
{
    if (!load.given.insert(n).second) {
        load.error = std::string(what) + " sets register " + std::to_string(n) + " a second time";
        return false;
    }
    return true;
}

}  // namespace

ImageLoad applyImageJson(std::string_view document, RegisterImage& image)
{
    using Kind = ImageMember::Kind;
    ImageLoad load;
    const ImageDocument doc = readImageDocument(document);
    if (!doc.ok) {
        load.error = doc.error;
        return load;
    }
    if (!doc.isObject) {
        load.error = "the image must be a JSON object";
        return load;
    }

    for (const ImageMember& m : doc.members) {
        const std::string& section = m.section;
        if (!m.key) {
            if (section == "registers" || section == "floats") {
                if (m.kind != Kind::Object) {
                    load.error = "\"" + section + "\" must be an object";
                    return load;
                }
            } else if (section == "config_index") {
                const Latin1 text = toLatin1(m.text);
                if (text.refused) {
                    char code[16];
                    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text.refused));
                    load.error = "\"config_index\": " + std::string(code) +
                                 " is not a Latin-1 character; each register holds one character as a byte (0 to 255)";
                    return load;
                }
                if (m.kind != Kind::String || text.bytes.size() > reg::kConfigIndexLength) {
                    load.error = "\"config_index\" must be text of at most 8 characters";
                    return load;
                }
                for (int i = 0; i < reg::kConfigIndexLength; ++i) {
                    if (!claim(load, reg::kConfigIndex + i, "config_index"))
                        return load;
                }
                image.setConfigIndex(text.bytes);
            } else {
                load.error = "unknown member \"" + section + "\" (expected registers, floats, config_index)";
                return load;
            }
            continue;
        }
        // A member of "registers" or "floats": the sections' own entries came first and were checked.
        const std::string& key = *m.key;
        const bool isFloat = section == "floats";
        const auto n = registerNumber(key);
        const int last = isFloat ? kRegisterCount - 1 : kRegisterCount;
        if (!n || *n < 1 || *n > last) {
            load.error = section + ": \"" + key + "\" is not a register number (1 to " + std::to_string(last) + ")";
            return load;
        }
        if (m.kind != Kind::Number) {
            load.error = section + " " + key + ": the value must be a number";
            return load;
        }
        if (isFloat) {
            if (!std::isfinite(static_cast<float>(m.number))) {
                load.error = "floats " + key + ": out of single-precision range";
                return load;
            }
            if (!claim(load, *n, "floats") || !claim(load, *n + 1, "floats"))
                return load;
            image.setFloat(*n, static_cast<float>(m.number));
        } else {
            if (m.number != std::floor(m.number) || m.number < 0 || m.number > 65535) {
                load.error = "registers " + key + ": " + m.text + " is not a whole number from 0 to 65535";
                return load;
            }
            if (!claim(load, *n, "registers"))
                return load;
            image.set(*n, static_cast<std::uint16_t>(m.number));
        }
    }
    load.ok = true;
    return load;
}

ImageLoad loadImageFile(const std::string& path, RegisterImage& image)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ImageLoad load;
        load.error = path + ": cannot read: " + std::strerror(errno);
        return load;
    }
    std::ostringstream text;
    text << in.rdbuf();
    ImageLoad load = applyImageJson(text.str(), image);
    if (!load.ok)
        load.error = path + ": " + load.error;
    return load;
}

}  // namespace vek::sim
