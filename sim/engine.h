// The simulated transmitter behind its serial port: framing, the slave, the living
// transmitter, fault injection and reply pacing, all driven by times handed in from outside.
// The I/O loop reads the port, feeds the engine, writes what it hands back and sleeps until
// nextWake(); nothing in here reads a clock or touches a file descriptor.
#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "event_log.h"
#include "faults.h"
#include "frame_assembler.h"
#include "line.h"
#include "register_image.h"
#include "slave.h"
#include "transmitter.h"

namespace vek::sim {

struct EngineConfig {
    LineSettings line;
    std::uint8_t address = 1;
    bool pacing = true;         // replies leave one character time per byte
    Micros turnaround = 3'000;  // from the end of the request to the first reply byte, when pacing
    bool checkBaud = false;     // ignore bytes the master sent at another speed
    FaultConfig faults;
    std::uint64_t seed = 0;
};

class Engine {
public:
    // `startedAt` is the moment the transmitter is switched on; the tank's cycle counts from it.
    Engine(EngineConfig config, RegisterImage image, Transmitter transmitter, EventLog* log, Micros startedAt);

    // Bytes read from the port at `now`. `peerBaud` is the speed the master's end is set to,
    // when the port can tell (a pseudo-terminal can).
    void receive(std::span<const std::uint8_t> bytes, Micros now, std::optional<unsigned> peerBaud = std::nullopt);

    // Finishes frames whose silence has passed and answers them, steps the transmitter, and
    // moves the port through a planned hang-up and return. Call at every wake-up.
    void tick(Micros now);

    // The reply bytes whose time has come. With pacing, byte i of a reply is due i character
    // times after its first; effects of a write (new address, new line) apply once its last
    // byte has been handed out.
    std::vector<std::uint8_t> takeOutput(Micros now);

    // For a network connection, where a reply goes out as one piece: the tag that the replies
    // to the requests handled from now on carry (the request's transaction id), and the
    // replies whose last byte is due, each whole with its tag. Use one of takeOutput and
    // takeReplies, not both.
    void setTag(std::uint32_t tag) { tag_ = tag; }
    struct TaggedReply {
        std::uint32_t tag = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<TaggedReply> takeReplies(Micros now);

    // The next moment tick() or takeOutput() has something to do; never earlier than `now`.
    Micros nextWake(Micros now) const;

    // False while a --hangup-after fault has the port unplugged.
    bool portOpen() const { return portOpen_; }

    // True once after the line settings changed, so that a real device can be reconfigured.
    bool takeLineChanged() { return std::exchange(lineChanged_, false); }

    const RegisterImage& image() const { return image_; }
    std::uint8_t address() const { return address_; }
    const LineSettings& line() const { return line_; }
    std::uint64_t requests() const { return requests_; }

private:
    struct Pending {
        Micros start = 0;
        Micros charTime = 0;  // 0: all at once
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        std::string note;
        std::optional<std::uint8_t> newAddress;
        std::optional<LineSettings> newLine;
        std::uint32_t tag = 0;
    };

    void handle(const RxFrame& frame, Micros now);
    // A write --refuse-write names: answered with exception 04, not carried out.
    bool refusesWrite(const Request& req) const;
    void applyEffects(const std::optional<std::uint8_t>& address, const std::optional<LineSettings>& line, Micros now);
    void logWrites(const std::vector<RegisterWrite>& writes, Micros now);
    void stepModel(Micros now);
    void hangUp(Micros now);

    EngineConfig config_;
    RegisterImage image_;
    Transmitter transmitter_;
    EventLog* log_;
    Micros startedAt_;
    std::uint8_t address_;
    LineSettings line_;
    FrameAssembler assembler_;
    FaultInjector faults_;
    std::deque<Pending> queue_;
    Micros queueFreeAt_ = 0;  // when the last queued reply will have left
    Micros nextModelStep_ = 0;
    std::uint64_t requests_ = 0;
    bool lineChanged_ = false;
    bool portOpen_ = true;
    bool hangupDue_ = false;
    bool hungUpOnce_ = false;
    std::optional<Micros> returnAt_;
    std::uint32_t tag_ = 0;
};

}  // namespace vek::sim
