// The traffic recorder, and the words and columns a frame is shown with.
#include "traffic.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "vek_app.h"

namespace vek {

namespace {

unsigned be16(const std::uint8_t* b) { return static_cast<unsigned>(b[0]) << 8 | b[1]; }

std::string functionName(int f)
{
    switch (f) {
    case 1: return "read coils (1)";
    case 2: return "read inputs (2)";
    case 3: return "read holding registers (3)";
    case 4: return "read input registers (4)";
    case 5: return "write single coil (5)";
    case 6: return "write single register (6)";
    case 16: return "write multiple registers (16)";
    default: return "function " + std::to_string(f);
    }
}

// The wire counts registers from 0; the program and the transmitter's documentation from 1.
std::string registerText(unsigned address)
{
    return "register " + std::to_string(address + 1) + " (address " + std::to_string(address) + ")";
}

std::string kindOutcome(TrafficKind k) { return k == TrafficKind::Request ? "sent" : "valid"; }

}  // namespace

TrafficRecorder::TrafficRecorder(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1)
{
    // Room for every slot, taken from the system but not touched: a session that records
    // little costs little, and the ring never moves once full.
    ring_.reserve(capacity_);
}

void TrafficRecorder::Record(double wallTime, bool sent, const std::uint8_t* bytes, std::size_t count, TrafficKind kind,
                             bool failedExchange, const std::string& outcome, double replyMs, bool mbap)
{
    if (ring_.size() < capacity_)
        ring_.emplace_back();
    TrafficFrame& f = ring_[endSeq_ % capacity_];
    f.seq = endSeq_;
    f.wallTime = wallTime;
    f.sent = sent;
    // assign() keeps the slot's storage: after the first lap no frame allocates.
    f.bytes.assign(bytes, bytes + count);
    f.kind = kind;
    f.failedExchange = failedExchange;
    f.outcome = outcome.empty() ? kindOutcome(kind) : outcome;
    f.replyMs = replyMs;
    f.mbap = mbap;
    ++endSeq_;
    if (count_ < capacity_)
        ++count_;
    if (onChange)
        onChange();
}

void TrafficRecorder::Clear()
{
    count_ = 0;
    // Cleared frames give their bytes and texts back: a clear ends with what a fresh
    // recorder holds, not with 10,000 slots' worth of old buffers.
    for (TrafficFrame& f : ring_)
        f = TrafficFrame{};
    if (onChange)
        onChange();
}

std::string ExceptionName(int code)
{
    switch (code) {
    case 1: return "Illegal function";
    case 2: return "Illegal data address";
    case 3: return "Illegal data value";
    case 4: return "Slave device failure";
    case 5: return "Acknowledge";
    case 6: return "Slave device busy";
    case 8: return "Memory parity error";
    case 10: return "Gateway path unavailable";
    case 11: return "Gateway target device failed to respond";
    default: return "";
    }
}

namespace {

// What a serial frame of `n` bytes says; `onLine` is how many bytes the frame took on the
// wire (n, or the size of the Modbus TCP frame it came in).
std::string describe(const std::uint8_t* b, std::size_t n, bool sent, std::size_t onLine)
{
    if (n == 0)
        return "nothing";
    std::string slave = "slave " + std::to_string(b[0]);
    if (n < 2)
        return slave + ", 1 byte";
    const int f = b[1];
    if (!sent && (f & 0x80)) {
        std::string text = slave + ", exception to " + functionName(f & 0x7F);
        if (n >= 3) {
            const std::string name = ExceptionName(b[2]);
            text += ": code " + std::to_string(b[2]) + (name.empty() ? "" : " (" + name + ")");
        }
        return text;
    }
    std::string text = slave + ", " + functionName(f);
    const std::size_t data = n >= 4 ? n - 4 : 0;  // bytes between the function code and the CRC
    if ((f >= 1 && f <= 4) && sent && n >= 8)
        return text + ", start " + registerText(be16(b + 2)) + ", count " + std::to_string(be16(b + 4));
    if ((f >= 1 && f <= 4) && !sent && n >= 3) {
        text += ", byte count " + std::to_string(b[2]);
        if (f >= 3)
            text += " (" + CountOf(b[2] / 2, "register", "registers") + ")";
        if (data != static_cast<std::size_t>(b[2]) + 1)
            text += ", " + CountOf(static_cast<long long>(onLine), "byte", "bytes") + " on the line";
        return text;
    }
    if ((f == 5 || f == 6) && n >= 8) {
        text += ", " + registerText(be16(b + 2)) + ", value " + std::to_string(be16(b + 4));
        return sent ? text : text + " (echo)";
    }
    if (f == 16 && n >= 8) {
        const unsigned quantity = be16(b + 4);
        text += ", start " + registerText(be16(b + 2)) + ", count " + std::to_string(quantity);
        if (sent && n >= 9) {
            text += ", byte count " + std::to_string(b[6]) + ", values";
            // One append at a time: `" " + std::to_string(...)` inserts into the temporary,
            // and g++ 12 at -O2 then warns of an overlapping memcpy (-Wrestrict) that cannot
            // happen.
            for (std::size_t i = 7; i + 2 <= n - 2; i += 2) {
                text += ' ';
                text += std::to_string(be16(b + i));
            }
        }
        return text;
    }
    return text + ", " + CountOf(static_cast<long long>(onLine), "byte", "bytes");
}

}  // namespace

std::string DescribeFrame(const std::uint8_t* b, std::size_t n, bool sent) { return describe(b, n, sent, n); }

std::string DescribeMbapFrame(const std::uint8_t* b, std::size_t n, bool sent)
{
    if (n < 7)
        return "a Modbus TCP frame cut short, " + CountOf(static_cast<long long>(n), "byte", "bytes");
    std::string text = "transaction " + std::to_string(be16(b)) + ", ";
    if (be16(b + 2) != 0)
        text += "protocol " + std::to_string(be16(b + 2)) + ", ";
    text += "length " + std::to_string(be16(b + 4)) + "; unit ";
    // The unit id and PDU read as the serial frame they stand for; its two CRC bytes are
    // placeholders the description never reads.
    std::vector<std::uint8_t> serial(b + 6, b + n);
    serial.resize(serial.size() + 2);
    return text + describe(serial.data(), serial.size(), sent, n).substr(6);  // past "slave "
}

std::string HexText(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::array<std::string, kTrafficColumns> TrafficHeader()
{
    return {"Time", "Dir", "Bytes", "Meaning", "Outcome", "Reply [ms]"};
}

std::array<std::string, kTrafficColumns> TrafficRow(const TrafficFrame& f)
{
    const auto whole = static_cast<std::time_t>(f.wallTime);
    int ms = static_cast<int>((f.wallTime - static_cast<double>(whole)) * 1000.0 + 0.5);
    std::time_t secs = whole;
    if (ms >= 1000) {
        ms -= 1000;
        ++secs;
    }
    const std::tm tm = platform::LocalTimeOf(secs);
    char time[64];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    std::string reply;
    if (f.replyMs >= 0)
        reply = std::to_string(static_cast<long long>(f.replyMs + 0.5));
    const std::string meaning = f.bytes.empty() ? std::string("nothing waited")
                                : f.mbap      ? DescribeMbapFrame(f.bytes.data(), f.bytes.size(), f.sent)
                                              : DescribeFrame(f.bytes.data(), f.bytes.size(), f.sent);
    return {time, f.sent ? "TX" : "RX", HexText(f.bytes), meaning, f.outcome, reply};
}

std::string TrafficText(const TrafficRecorder& r, bool errorsOnly)
{
    return TrafficText(r, errorsOnly, r.firstSeq(), r.endSeq());
}

std::string TrafficText(const TrafficRecorder& r, bool errorsOnly, std::uint64_t from, std::uint64_t end)
{
    std::string out;
    auto line = [&out](const std::array<std::string, kTrafficColumns>& cols) {
        for (int i = 0; i < kTrafficColumns; ++i) {
            out += cols[static_cast<std::size_t>(i)];
            out += i + 1 < kTrafficColumns ? '\t' : '\n';
        }
    };
    line(TrafficHeader());
    for (std::uint64_t s = std::max(from, r.firstSeq()); s < std::min(end, r.endSeq()); ++s)
        if (!errorsOnly || r.at(s).failedExchange)
            line(TrafficRow(r.at(s)));
    return out;
}

}  // namespace vek
