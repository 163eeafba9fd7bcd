// Reading a register image's JSON (nlohmann-json) into the little the image needs: its
// members in file order, duplicates included, with their values' kinds, numbers and text.
// What the members mean is image_file's business.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek::sim {

struct ImageMember {
    enum class Kind { Number, String, Object, Other };
    std::string section;             // name of the member of the image itself
    std::optional<std::string> key;  // set for a member of a section that is an object
    Kind kind = Kind::Other;
    double number = 0;
    std::string text;  // a string's text (UTF-8), or a number as written, to quote it back
};

struct ImageDocument {
    bool ok = false;
    std::string error;  // "line 3, column 12: <what the JSON library says>"
    bool isObject = false;
    // Each section comes first, then (if it is an object) its members: the order of the file.
    std::vector<ImageMember> members;
};

ImageDocument readImageDocument(std::string_view text);

// Text for registers that hold a character a byte, which the master shows as Latin-1.
struct Latin1 {
    std::string bytes;
    char32_t refused = 0;  // the first character above U+00FF (no byte holds it), else 0
};
Latin1 toLatin1(std::string_view utf8);

}  // namespace vek::sim
