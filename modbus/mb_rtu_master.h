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
// `replyWait` seconds, receive. The one way the program talks to the slave.
ExchangeOutcome Exchange(LinkState& s, MasterIo& io, int port, double replyWait);

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
