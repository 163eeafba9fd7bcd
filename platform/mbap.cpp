#include "mbap.h"

#include "mb_crc.h"

#include <algorithm>

namespace vek::platform::mbap {

namespace {

std::uint16_t be16(const std::uint8_t* b) { return static_cast<std::uint16_t>(b[0] << 8 | b[1]); }

}  // namespace

Bytes FromRtu(std::uint16_t tid, const std::uint8_t* rtu, int count)
{
    // slave + at least a function code + CRC
    if (count < 4)
        return {};
    const int pdu = count - 3;
    const int length = 1 + pdu;
    if (length > kMaxLength)
        return {};
    Bytes out;
    out.reserve(static_cast<std::size_t>(6 + length));
    out.push_back(static_cast<std::uint8_t>(tid >> 8));
    out.push_back(static_cast<std::uint8_t>(tid & 0xFF));
    out.push_back(0);
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.push_back(rtu[0]);
    out.insert(out.end(), rtu + 1, rtu + 1 + pdu);
    return out;
}

void Receiver::Expect(std::uint16_t tid)
{
    expected_ = tid;
    inFlight_ = true;
    ready_.clear();
    taken_.clear();
}

int Receiver::Want() const
{
    if (!refusal_.empty())
        return 0;
    if (frame_.size() < static_cast<std::size_t>(kHeaderSize))
        return kHeaderSize - static_cast<int>(frame_.size());
    return 6 + be16(frame_.data() + 4) - static_cast<int>(frame_.size());
}

Receiver::Event Receiver::Push(const std::uint8_t* bytes, int n)
{
    if (n <= 0 || !refusal_.empty())
        return Event::None;
    n = std::min(n, Want());
    frame_.insert(frame_.end(), bytes, bytes + n);
    if (frame_.size() == static_cast<std::size_t>(kHeaderSize)) {
        // The header alone says how much follows: a length that fits no frame (no function
        // code, or past the longest frame) is refused here, its body never read.
        const int length = be16(frame_.data() + 4);
        if (length < 2 || length > kMaxLength) {
            refusal_ = "reply refused: its length field says " + std::to_string(length) + " bytes, a frame holds 2 to " +
                       std::to_string(kMaxLength);
            frame_.clear();
            return Event::Refused;
        }
    }
    if (frame_.size() < static_cast<std::size_t>(kHeaderSize) || Want() > 0)
        return Event::None;
    return complete();
}

Receiver::Event Receiver::complete()
{
    Bytes f;
    f.swap(frame_);
    const std::uint16_t tid = be16(f.data());
    const std::uint16_t protocol = be16(f.data() + 2);
    // Only the reply to the request in flight, and only once: a late reply to an earlier
    // request, or a second copy, is never taken for this one.
    if (!inFlight_ || tid != expected_ || protocol != 0)
        return Event::Dropped;
    inFlight_ = false;
    taken_ = f;
    // A unit id other than the request's stays in the reply: the master's address check names it.
    ready_.assign(f.begin() + 6, f.end());
    const std::uint16_t crc = usMBCRC16(ready_.data(), ready_.size());
    ready_.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    ready_.push_back(static_cast<std::uint8_t>(crc >> 8));
    return Event::Taken;
}

void Receiver::Reset()
{
    frame_.clear();
    ready_.clear();
    taken_.clear();
    inFlight_ = false;
    refusal_.clear();
}

}  // namespace vek::platform::mbap
