#include "frame_assembler.h"

namespace vek::sim {

void FrameAssembler::feed(const std::uint8_t* data, std::size_t length, Micros now, bool garbled)
{
    if (length == 0)
        return;
    if (receiving_ && now - current_.lastByteAt >= silence_)
        closeCurrent();
    receiving_ = true;
    for (std::size_t i = 0; i < length; ++i) {
        // Keep the first bytes of an overlong burst for the log, drop the rest.
        if (current_.bytes.size() < kMaxFrame + 16)
            current_.bytes.push_back(data[i]);
    }
    if (current_.bytes.size() > kMaxFrame)
        current_.overflow = true;
    current_.garbled = current_.garbled || garbled;
    current_.lastByteAt = now;
}

std::optional<RxFrame> FrameAssembler::take(Micros now)
{
    if (receiving_ && now - current_.lastByteAt >= silence_)
        closeCurrent();
    if (finished_.empty())
        return std::nullopt;
    RxFrame frame = std::move(finished_.front());
    finished_.pop_front();
    return frame;
}

std::optional<Micros> FrameAssembler::deadline() const
{
    if (!finished_.empty())
        return finished_.front().lastByteAt;
    if (!receiving_)
        return std::nullopt;
    return current_.lastByteAt + silence_;
}

void FrameAssembler::reset()
{
    current_ = RxFrame{};
    receiving_ = false;
    finished_.clear();
}

void FrameAssembler::closeCurrent()
{
    finished_.push_back(std::move(current_));
    current_ = RxFrame{};
    receiving_ = false;
}

}  // namespace vek::sim
