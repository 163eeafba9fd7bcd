// Cuts the received byte stream into RTU frames by the silence between them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "line.h"

namespace vek::sim {

struct RxFrame {
    std::vector<std::uint8_t> bytes;
    Micros lastByteAt = 0;  // when the last byte of the frame was seen
    bool overflow = false;  // more bytes than any RTU frame can hold; the frame is garbage
    bool garbled = false;   // some bytes came in at a speed the slave was not listening at
};

// A frame ends once 3.5 character times pass without a byte. No inter-character (1.5 char)
// check is made: a pseudo-terminal delivers bytes in scheduler-sized lumps, and a gap that
// is not yet a silence is therefore treated as part of the same frame.
class FrameAssembler {
public:
    static constexpr std::size_t kMaxFrame = 256;

    explicit FrameAssembler(Micros silence) : silence_(silence) {}

    // Changing the baud rate takes effect for the frame being received too.
    void setSilence(Micros silence) { silence_ = silence; }
    Micros silence() const { return silence_; }

    // Bytes that arrive `now`. If the line has been quiet for a full silence since the last
    // byte, the pending frame is finished first and the new bytes start the next one.
    void feed(const std::uint8_t* data, std::size_t length, Micros now, bool garbled = false);

    // The oldest finished frame, if any frame is finished at `now`.
    std::optional<RxFrame> take(Micros now);

    // When the frame being received will be finished if no further byte arrives.
    std::optional<Micros> deadline() const;

    // Forget everything: the port went away.
    void reset();

private:
    void closeCurrent();

    Micros silence_;
    RxFrame current_;
    bool receiving_ = false;
    std::deque<RxFrame> finished_;
};

}  // namespace vek::sim
