#include "event_log.h"

#include "text.h"

namespace vek::sim {

namespace {

std::string stamp(Micros t)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", static_cast<long long>(t / 1'000'000),
                  static_cast<long long>(t % 1'000'000));
    return buf;
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string formatFrame(Micros t, std::string_view dir, std::span<const std::uint8_t> bytes, std::string_view note)
{
    std::string line = "{\"t\":" + stamp(t) + ",\"dir\":" + jsonString(dir) +
                       ",\"len\":" + std::to_string(bytes.size()) + ",\"hex\":" + jsonString(hexBytes(bytes));
    if (!note.empty())
        line += ",\"note\":" + jsonString(note);
    return line + "}";
}

std::string formatEvent(Micros t, std::string_view name, const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string line = "{\"t\":" + stamp(t) + ",\"event\":" + jsonString(name);
    for (const auto& [key, value] : fields)
        line += cat(",", jsonString(key), ":", value);
    return line + "}";
}

JsonLinesLog::~JsonLinesLog()
{
    if (out_)
        std::fclose(out_);
}

void JsonLinesLog::put(const std::string& line)
{
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void JsonLinesLog::frame(Micros t, std::string_view dir, std::span<const std::uint8_t> bytes, std::string_view note)
{
    put(formatFrame(t, dir, bytes, note));
}

void JsonLinesLog::event(Micros t, std::string_view name,
                         const std::vector<std::pair<std::string, std::string>>& fields)
{
    put(formatEvent(t, name, fields));
}

}  // namespace vek::sim
