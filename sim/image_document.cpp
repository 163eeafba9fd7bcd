#include "image_document.h"

#include <nlohmann/json.hpp>

namespace vek::sim {

namespace {

using Json = nlohmann::json;
using Kind = ImageMember::Kind;

// An image has three levels (itself, its sections, their registers); the library sets no
// limit, and a file of brackets would have it keep a stack as long as the file.
constexpr int kMaxDepth = 64;

// The library counts the bytes it has read, the end of the text as one more: `read` points
// at the byte it stopped on, whose line and column we give (columns count bytes).
std::string place(std::string_view text, std::size_t read)
{
    int line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < read && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

// The library's message without its tag ("[json.exception.out_of_range.406] ") or, for a
// parse error, without the place it gives in words of its own: ours stands in front.
std::string message(const Json::exception& ex)
{
    const std::string_view what = ex.what();
    const std::size_t at = what.find(dynamic_cast<const Json::parse_error*>(&ex) ? ": " : "] ");
    return std::string(at == std::string_view::npos ? what : what.substr(at + 2));
}

// Events rather than nlohmann's own document: that keeps one of two equal keys and drops
// the other unseen, where the image wants every member in file order, so that a register
// named twice can be refused and a section named twice adds up.
class Collector final : public nlohmann::json_sax<Json> {
public:
    explicit Collector(std::string_view text) : text_(text) {}
    ImageDocument doc;

    bool null() override { return value(Kind::Other); }
    bool boolean(bool) override { return value(Kind::Other); }
    // Only a number written with a minus sign arrives here, so 0 was "-0": keep its sign.
    bool number_integer(number_integer_t v) override
    {
        return value(Kind::Number, v == 0 ? -0.0 : static_cast<double>(v), std::to_string(v));
    }
    bool number_unsigned(number_unsigned_t v) override
    {
        return value(Kind::Number, static_cast<double>(v), std::to_string(v));
    }
    bool number_float(number_float_t v, const string_t& written) override { return value(Kind::Number, v, written); }
    bool string(string_t& s) override { return value(Kind::String, 0, s); }
    bool binary(binary_t&) override { return value(Kind::Other); }
    bool start_object(std::size_t) override { return open(Kind::Object); }
    bool start_array(std::size_t) override { return open(Kind::Other); }
    bool end_object() override
    {
        --depth_;
        return true;
    }
    bool end_array() override
    {
        --depth_;
        return true;
    }
    // A deeper key may overwrite key_: every value at depth 2 comes after a key of its own.
    bool key(string_t& k) override
    {
        (depth_ == 1 ? section_ : key_) = k;
        return true;
    }
    bool parse_error(std::size_t read, const std::string&, const Json::exception& ex) override
    {
        doc.error = place(text_, read) + message(ex);
        return false;
    }

private:
    // Depth 0 is the image, 1 a section's value, 2 a register's; deeper values only make
    // the register's value "not a number".
    bool value(Kind kind, double number = 0, std::string text = {})
    {
        if (depth_ == 0) {
            doc.isObject = kind == Kind::Object;
        } else if (depth_ == 1 && doc.isObject) {
            doc.members.push_back({section_, std::nullopt, kind, number, std::move(text)});
            sectionIsObject_ = kind == Kind::Object;
        } else if (depth_ == 2 && sectionIsObject_) {
            doc.members.push_back({section_, key_, kind, number, std::move(text)});
        }
        return true;
    }
    bool open(Kind kind)
    {
        value(kind);
        if (++depth_ <= kMaxDepth)
            return true;
        doc.error = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
    }

    std::string_view text_;
    int depth_ = 0;
    bool sectionIsObject_ = false;
    std::string section_, key_;
};

}  // namespace

ImageDocument readImageDocument(std::string_view text)
{
    Collector collector(text);
    // Strict: nothing may follow the image; comments are not JSON and never were accepted.
    collector.doc.ok = Json::sax_parse(text, &collector, Json::input_format_t::json, true, false);
    return std::move(collector.doc);
}

Latin1 toLatin1(std::string_view utf8)
{
    Latin1 out;
    // The library has refused ill-formed UTF-8: a first byte's high bits say only how many
    // bytes 10xxxxxx follow, the bits below them start the character.
    for (std::size_t i = 0; i < utf8.size();) {
        const auto first = static_cast<unsigned char>(utf8[i++]);
        char32_t c = first < 0x80 ? first : first < 0xE0 ? first & 0x1Fu : first < 0xF0 ? first & 0x0Fu : first & 0x07u;
        for (; i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0u) == 0x80; ++i) {
            c = c << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3Fu);
        }
        if (c > 0xFF)
            return {out.bytes, c};
        out.bytes += static_cast<char>(c);
    }
    return out;
}

}  // namespace vek::sim
