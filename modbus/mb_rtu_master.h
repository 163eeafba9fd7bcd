// One request/reply exchange with the slave in four steps: ModBusMasterQuery (build),
// SendDataMaster (send), a wait of the caller's choice, ReceiveDataMaster (receive and
// check). Exchange runs the four; the outcome comes back as a value for the caller to show.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mb_io.h"
#include "mb_link_state.h"
#include "mb_outcome.h"

namespace vek {

// Fixed waits of an exchange, in seconds.
inline constexpr double kPortTimeout = 0.5;       // set on the port before every send
inline constexpr double kNonPollReplyWait = 2.0;  // inside ReceiveDataMaster, every function but 3

// Builds the request for ucFuncCod into ucTxBuffer (usTxFrameLen bytes). An unknown
// function code builds nothing: the previous request stays and is sent again.
void ModBusMasterQuery(LinkState& s);

// Sets the port time-out, counts the request in pollCount (whatever happens next) and
// writes the whole request in one piece. Returns the request's length.
int SendDataMaster(LinkState& s, MasterIo& io, int port);

// Takes the reply only when exactly the expected number of bytes waits in the input queue
// (after a 2.0 s wait for any function but 3) and checks it. The outcome is returned and
// also kept in responseValid, commErrorText (its OutcomeText), ucExceptionCode and, after
// a serial error, commError. A reply of any other length stays in the queue; the port
// reopening before the next exchange discards it. An exception reply (5 bytes: slave,
// function | 0x80, code, CRC) is read only when it is one.
ExchangeOutcome ReceiveDataMaster(LinkState& s, MasterIo& io, int port);

// The whole exchange of the request the link's fields describe: build, send, wait
// `replyWait` seconds, receive.
ExchangeOutcome Exchange(LinkState& s, MasterIo& io, int port, double replyWait);

// ReceiveDataMaster without its own wait: judges what waits in the input queue now.
ExchangeOutcome TakeReply(LinkState& s, MasterIo& io, int port);

// --- one call per request: how the program talks to the slave ---

// How long a request waits for its reply.
struct ReplyWait {
    double limit = 1.0;     // seconds from the send to the verdict at the latest
    bool endsEarly = true;  // end once the whole expected frame (or an exception reply) has
                            // arrived and the line has been quiet 3.5 characters; the poll
                            // waits out its whole window instead
    long baud = 9600;       // the line's speed, for the quiet time
    bool parity = false;    // a parity bit makes a character 11 bits instead of 10
};
// 3.5 characters of 11 bits at `baud`: 4.0 ms at 9600, 2.0 ms at 19200. Counting the
// longer character with or without parity keeps a slow slave's pause from splitting a reply.
double QuietTime(long baud);

// What one request came to.
struct RtuResult {
    ExchangeOutcome outcome;
    std::vector<std::uint8_t> request;     // the frame as sent; empty when nothing was sent
    std::vector<std::uint8_t> reply;       // the frame taken as the reply (valid, failed or an exception)
    std::vector<std::uint16_t> registers;  // a valid read's registers
    double waited = 0;                     // seconds from the send to the verdict
};

// A request on the wire and the wait for its reply, one look at a time, so that whoever owns
// the link can wait on its own timers instead of sleeping: made by sending the request, looked
// at with Look until that says the wait is over, then judged once with Verdict. The link's
// request fields are the request's until the verdict; nothing else may use the link meanwhile.
class PendingReply {
public:
    // Builds and sends the request the link's fields describe; the wait starts now.
    PendingReply(LinkState& s, MasterIo& io, int port, const ReplyWait& wait);
    // Looks at the input queue now: the seconds until the next look, or a negative number once
    // the wait is over (the window has passed, or the whole reply is in and the line quiet).
    double Look();
    // Judges what waits in the input queue now (the exact-length rule and the four checks).
    RtuResult Verdict();
    // Looks, sleeping on the clock in between, then judges: the whole exchange in one call.
    RtuResult WaitOut();

private:
    friend PendingReply StartReadHoldingRegisters(LinkState&, MasterIo&, int, std::uint8_t, std::uint16_t,
                                                  std::uint16_t, const ReplyWait&);
    friend PendingReply StartWriteSingleRegister(LinkState&, MasterIo&, int, std::uint8_t, int, std::uint16_t,
                                                 const ReplyWait&);
    LinkState* s_;
    MasterIo io_;
    int port_;
    ReplyWait wait_;
    double sentAt_ = 0;
    double lastChange_ = 0;
    int seen_ = -1;
    bool restAfter_ = false;  // the request fields go back to rest at the verdict
    std::vector<std::uint8_t> request_;
};

// Function 3: `count` registers from 0-based address `start` of `slave`. The Start forms send
// and hand back the wait; the others wait it out on the clock.
PendingReply StartReadHoldingRegisters(LinkState& s, MasterIo& io, int port, std::uint8_t slave, std::uint16_t start,
                                       std::uint16_t count, const ReplyWait& wait);
RtuResult ReadHoldingRegisters(LinkState& s, MasterIo& io, int port, std::uint8_t slave, std::uint16_t start,
                               std::uint16_t count, const ReplyWait& wait);
// Function 6: `value` into register number `reg` (counted from 1) of `slave`; valid only
// when the echo is the request.
PendingReply StartWriteSingleRegister(LinkState& s, MasterIo& io, int port, std::uint8_t slave, int reg,
                                      std::uint16_t value, const ReplyWait& wait);
RtuResult WriteSingleRegister(LinkState& s, MasterIo& io, int port, std::uint8_t slave, int reg, std::uint16_t value,
                              const ReplyWait& wait);
// The request the link's fields describe (any function), as the calls above run theirs: for
// the fuzzers and the tests of the older functions.
RtuResult RunLinkRequest(LinkState& s, MasterIo& io, int port, const ReplyWait& wait);

// The registers a valid read reply carried (function 3 or 4), high byte first on the wire;
// empty after any other exchange or outcome.
std::vector<std::uint16_t> ReplyRegisters(const LinkState& s, const ExchangeOutcome& outcome);

// The four reply checks; every one runs, so the message can name every failure.
int CheckSlaveResponse(LinkState& s);
int RTU_Address(LinkState& s, std::uint8_t address);
int RTU_Function(LinkState& s, std::uint8_t code);
// Data bytes a reply to `code` carries for usNumCoilsRegs; stored in usNBytes.
std::uint32_t RTU_NumBytes(LinkState& s, std::uint8_t code);
int RTU_CRC(LinkState& s, std::uint16_t crcLo, std::uint16_t crcHi, const std::uint8_t* frame, std::uint32_t length);

// Opens COM usPortNumber with usNumBits and usStopBit. Baud selector 1 gives 19200, any
// other 9600; parity selector 1 (even) gives the port's even code, 2 (odd) its odd code,
// any other none. Always returns 0: a port that failed to open shows up in the next exchange.
int OpenComConfig_Vek(LinkState& s, platform::Rs232& com, int port, const std::string& deviceName,
                      std::uint32_t baudSelector, std::uint16_t paritySelector, int dataBits, int stopBits,
                      int inputQueueSize, int outputQueueSize);

// The line speed and parity code the selectors stand for.
long BaudRateOf(std::uint32_t baudSelector);
int ParityCodeOf(std::uint16_t paritySelector);

}  // namespace vek
