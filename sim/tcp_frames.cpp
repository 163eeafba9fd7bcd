#include "tcp_frames.h"

#include "slave.h"

namespace vek::sim {

void MbapSplitter::feed(const std::uint8_t* bytes, std::size_t n) { buf_.insert(buf_.end(), bytes, bytes + n); }

std::optional<MbapRequest> MbapSplitter::next(std::string& error)
{
    if (buf_.size() < 7)
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(buf_[4] << 8 | buf_[5]);
    // Unit id and function code at least; no more than the longest frame (260 bytes).
    if (length < 2 || length > 254) {
        error = "request with length field " + std::to_string(length);
        buf_.clear();
        return std::nullopt;
    }
    if (buf_.size() < 6 + length)
        return std::nullopt;
    MbapRequest r;
    r.transaction = static_cast<std::uint16_t>(buf_[0] << 8 | buf_[1]);
    r.protocol = static_cast<std::uint16_t>(buf_[2] << 8 | buf_[3]);
    r.rtu.assign(buf_.begin() + 6, buf_.begin() + static_cast<std::ptrdiff_t>(6 + length));
    appendCrc(r.rtu);
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(6 + length));
    return r;
}

std::vector<std::uint8_t> mbapReply(std::uint16_t transaction, const std::vector<std::uint8_t>& rtu)
{
    if (rtu.size() < 2)
        return {};
    // A reply a fault left shorter than slave + function + CRC keeps what it has.
    const std::size_t body = rtu.size() >= 4 ? rtu.size() - 2 : rtu.size();
    std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(transaction >> 8),
                                     static_cast<std::uint8_t>(transaction & 0xFF),
                                     0,
                                     0,
                                     static_cast<std::uint8_t>(body >> 8),
                                     static_cast<std::uint8_t>(body & 0xFF)};
    out.insert(out.end(), rtu.begin(), rtu.begin() + static_cast<std::ptrdiff_t>(body));
    return out;
}

}  // namespace vek::sim
