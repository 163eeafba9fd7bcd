#include "slave.h"

#include "mb_crc.h"

namespace vek::sim {

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteSingle = 0x06;
constexpr std::uint8_t kWriteMultiple = 0x10;
constexpr int kMaxRead = 125;
constexpr int kMaxWrite = 123;

int word(const std::vector<std::uint8_t>& f, std::size_t at) { return (f[at] << 8) | f[at + 1]; }

// Values that would leave the device unreachable or undefined are refused as the device
// refuses them, with "illegal data value", and nothing is written.
bool acceptable(int number, std::uint16_t value)
{
    switch (number) {
    case reg::kUid: return value >= 1 && value <= 247;
    case reg::kParity: return parityFromCode(value).has_value();
    case reg::kBaud: return baudFromCode(value).has_value();
    default: return true;
    }
}

Outcome refuse(const Request& r, std::uint8_t code)
{
    Outcome out;
    out.exception = code;
    if (!r.broadcast())
        out.reply = exceptionFrame(r.address, r.function, code);
    return out;
}

// Applies consecutive writes starting at `first`, all or nothing.
Outcome applyWrites(const Request& r, RegisterImage& image, LineSettings line, int first,
                    const std::vector<std::uint16_t>& values)
{
    const int last = first + static_cast<int>(values.size()) - 1;
    if (first < 1 || last > kRegisterCount)
        return refuse(r, exc::kIllegalAddress);
    for (int n = first; n <= last; ++n) {
        if (!isWritable(n))
            return refuse(r, exc::kIllegalAddress);
    }
    for (int n = first; n <= last; ++n) {
        if (!acceptable(n, values[static_cast<std::size_t>(n - first)]))
            return refuse(r, exc::kIllegalValue);
    }
    Outcome out;
    LineSettings newLine = line;
    bool lineTouched = false;
    for (int n = first; n <= last; ++n) {
        const std::uint16_t v = values[static_cast<std::size_t>(n - first)];
        out.writes.push_back({n, image.get(n), v});
        image.set(n, v);
        if (n == reg::kUid)
            out.newAddress = static_cast<std::uint8_t>(v);
        if (n == reg::kParity) {
            newLine.parity = *parityFromCode(v);
            lineTouched = true;
        }
        if (n == reg::kBaud) {
            newLine.baud = *baudFromCode(v);
            lineTouched = true;
        }
    }
    if (lineTouched)
        out.newLine = newLine;
    return out;
}

}  // namespace

const char* describe(Ignored reason)
{
    switch (reason) {
    case Ignored::None: return "accepted";
    case Ignored::TooShort: return "too short for a frame";
    case Ignored::TooLong: return "longer than any frame";
    case Ignored::BadCrc: return "bad CRC";
    case Ignored::OtherSlave: return "for another slave";
    case Ignored::Garbled: return "sent at another baud rate";
    }
    return "?";
}

void appendCrc(std::vector<std::uint8_t>& frame)
{
    const std::uint16_t crc = usMBCRC16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool crcOk(std::span<const std::uint8_t> frame)
{
    if (frame.size() < 3)
        return false;
    const std::size_t n = frame.size() - 2;
    const std::uint16_t crc = usMBCRC16(frame.data(), n);
    return frame[n] == (crc & 0xFF) && frame[n + 1] == (crc >> 8);
}

std::vector<std::uint8_t> exceptionFrame(std::uint8_t address, std::uint8_t function, std::uint8_t code)
{
    std::vector<std::uint8_t> f{address, static_cast<std::uint8_t>(function | 0x80), code};
    appendCrc(f);
    return f;
}

Screened screen(std::span<const std::uint8_t> frame, std::uint8_t ourAddress)
{
    Screened s;
    // Address, function and two CRC bytes are the least a frame can be.
    if (frame.size() < 4) {
        s.reason = Ignored::TooShort;
        return s;
    }
    if (frame.size() > 256) {
        s.reason = Ignored::TooLong;
        return s;
    }
    if (!crcOk(frame)) {
        s.reason = Ignored::BadCrc;
        return s;
    }
    if (frame[0] != 0 && frame[0] != ourAddress) {
        s.reason = Ignored::OtherSlave;
        return s;
    }
    s.request.address = frame[0];
    s.request.function = frame[1];
    s.request.frame.assign(frame.begin(), frame.end());
    return s;
}

Outcome execute(const Request& r, RegisterImage& image, LineSettings line)
{
    const auto& f = r.frame;
    switch (r.function) {
    case kReadHolding: {
        // A broadcast read has nobody to answer to; it is dropped like a foreign frame.
        if (r.broadcast())
            return Outcome{};
        if (f.size() != 8)
            return refuse(r, exc::kIllegalValue);
        const int start = word(f, 2);
        const int count = word(f, 4);
        if (count < 1 || count > kMaxRead)
            return refuse(r, exc::kIllegalValue);
        if (start + count > kRegisterCount)
            return refuse(r, exc::kIllegalAddress);
        Outcome out;
        out.reply = {r.address, kReadHolding, static_cast<std::uint8_t>(2 * count)};
        out.reply.reserve(5 + 2 * static_cast<std::size_t>(count));
        for (int n = start + 1; n <= start + count; ++n) {
            const std::uint16_t v = image.get(n);
            out.reply.push_back(static_cast<std::uint8_t>(v >> 8));
            out.reply.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
        appendCrc(out.reply);
        return out;
    }
    case kWriteSingle: {
        if (f.size() != 8)
            return refuse(r, exc::kIllegalValue);
        Outcome out = applyWrites(r, image, line, word(f, 2) + 1, {static_cast<std::uint16_t>(word(f, 4))});
        if (!out.exception && !r.broadcast())
            out.reply = f;  // the echo is the request itself
        return out;
    }
    case kWriteMultiple: {
        if (f.size() < 9)
            return refuse(r, exc::kIllegalValue);
        const int start = word(f, 2);
        const int count = word(f, 4);
        const int bytes = f[6];
        if (count < 1 || count > kMaxWrite || bytes != 2 * count || f.size() != 9 + static_cast<std::size_t>(bytes)) {
            return refuse(r, exc::kIllegalValue);
        }
        std::vector<std::uint16_t> values;
        for (int i = 0; i < count; ++i)
            values.push_back(static_cast<std::uint16_t>(word(f, 7 + 2 * static_cast<std::size_t>(i))));
        Outcome out = applyWrites(r, image, line, start + 1, values);
        if (!out.exception && !r.broadcast()) {
            out.reply.assign(f.begin(), f.begin() + 6);
            appendCrc(out.reply);
        }
        return out;
    }
    default: return refuse(r, exc::kIllegalFunction);
    }
}

}  // namespace vek::sim
