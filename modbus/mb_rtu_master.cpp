#include "mb_rtu_master.h"

#include <algorithm>
#include <optional>

#include "mb_crc.h"
#include "mb_functions.h"

namespace vek {

void SetCommErrorText(LinkState& s, const std::string& text)
{
    s.commErrorText = text.substr(0, kCommErrorTextCapacity);
}

void ModBusMasterQuery(LinkState& s)
{
    s.ucSlaveAddress = static_cast<std::uint8_t>(s.slaveAddress);
    const std::uint8_t* frame = nullptr;
    std::uint32_t len = 8;
    switch (s.ucFuncCod) {
    case 1: frame = eMBReadCoils(s, s.ucSlaveAddress, s.ucFuncCod, s.usStartAddress, s.usNumCoilsRegs); break;
    case 2: frame = eMBReadInputs(s, s.ucSlaveAddress, s.ucFuncCod, s.usStartAddress, s.usNumCoilsRegs); break;
    case 3:
        frame = eMBReadHoldingRegisters(s, s.ucSlaveAddress, s.ucFuncCod, s.usStartAddress, s.usNumCoilsRegs);
        break;
    case 4: frame = eMBReadInputRegisters(s, s.ucSlaveAddress, s.ucFuncCod, s.usStartAddress, s.usNumCoilsRegs); break;
    case 5:
        frame = eMBWriteSingleCoil(s, s.ucSlaveAddress, s.ucFuncCod, s.usCoilRegAddress,
                                   static_cast<std::uint16_t>(s.usWriteValue));
        break;
    case 6: frame = eMBWriteSingleRegister(s, s.ucSlaveAddress, s.ucFuncCod, s.usCoilRegAddress, s.usWriteValue); break;
    case 16:
        frame = eMBWriteMultipleRegisters(s, s.ucSlaveAddress, s.usNumCoilsRegs, s.us_BufferPtr);
        len = 9 + 2 * s.usNumCoilsRegs;
        if (!frame) {
            // Too many values for one frame: send nothing rather than a truncated request.
            s.usTxFrameLen = 0;
            return;
        }
        break;
    default: return;
    }
    std::copy(frame, frame + len, s.ucTxBuffer);
    s.usTxFrameLen = len;
}

int SendDataMaster(LinkState& s, MasterIo& io, int port)
{
    io.com.SetComTime(port, kPortTimeout);
    if (s.usTxFrameLen == 0)
        return 0;  // nothing was built, so nothing is sent or counted
    ++s.pollCount;
    // One write for the whole frame: a pause between two bytes longer than 3.5 characters
    // (3.6 ms at 9600 baud) would end the frame early at the slave, which then drops both parts.
    io.com.ComWrt(port, s.ucTxBuffer, static_cast<int>(s.usTxFrameLen));
    return static_cast<int>(s.usTxFrameLen);
}

std::uint32_t RTU_NumBytes(LinkState& s, std::uint8_t code)
{
    const std::uint32_t n = s.usNumCoilsRegs;
    switch (code) {
    case 1:
    case 2: s.usNBytes = n / 8 + (n % 8 != 0 ? 1 : 0); break;
    case 3:
    case 4: s.usNBytes = 2 * n; break;
    case 5:
    case 6: s.usNBytes = 4; break;
    default: s.usNBytes = 1; break;
    }
    return s.usNBytes;
}

int RTU_Address(LinkState& s, std::uint8_t address) { return address == s.ucSlaveAddress ? 1 : 0; }

int RTU_Function(LinkState& s, std::uint8_t code) { return code == s.ucFuncCod ? 1 : 0; }

int RTU_CRC(LinkState& s, std::uint16_t crcLo, std::uint16_t crcHi, const std::uint8_t* frame, std::uint32_t length)
{
    const std::uint16_t crc = usMBCRC16(frame, length);
    s.ucFlagCRC = ((crc & 0xFF) == crcLo && (crc >> 8) == crcHi) ? 1 : 0;
    return s.ucFlagCRC;
}

int CheckSlaveResponse(LinkState& s)
{
    s.ucFlagAddress = static_cast<std::uint8_t>(RTU_Address(s, s.ucSlaveAddressReceived));
    s.ucFlagFuncCod = static_cast<std::uint8_t>(RTU_Function(s, s.ucFuncCodReceived));
    const std::uint8_t code = s.ucFuncCodReceived;
    if (code == 5 || code == 6 || code == 16) {
        // Write replies carry no byte count: they echo the address and the value (or the
        // quantity), which must be what was asked for.
        s.ucFlagNumBytes = std::equal(s.ucRxBuffer + 2, s.ucRxBuffer + 6, s.ucTxBuffer + 2) ? 1 : 0;
        RTU_NumBytes(s, code);
    } else {
        s.ucFlagNumBytes = RTU_NumBytes(s, code) == s.usNBytesReceived ? 1 : 0;
    }
    s.usLen = s.usRxFrameLen - 2;
    s.usCRCLoReceived = s.ucRxBuffer[s.usRxFrameLen - 2];
    s.usCRCHiReceived = s.ucRxBuffer[s.usRxFrameLen - 1];
    RTU_CRC(s, s.usCRCLoReceived, s.usCRCHiReceived, s.ucRxBuffer, s.usLen);
    return (s.ucFlagAddress && s.ucFlagFuncCod && s.ucFlagNumBytes && s.ucFlagCRC) ? 1 : 0;
}

namespace {

// Expected reply length for the current request: the fixed part plus the data bytes.
std::uint32_t expectedReplyLength(LinkState& s)
{
    const std::uint8_t f = s.ucFuncCod;
    const std::uint32_t data = RTU_NumBytes(s, f);
    if (f == 16)
        return 8;  // slave, 0x10, start address, quantity, CRC
    const std::uint32_t fixed = (f >= 1 && f <= 4) ? 5 : 4;
    return fixed + data;
}

// True when `b` (5 bytes) is the addressed slave refusing the requested function.
bool isExceptionReply(const LinkState& s, const std::uint8_t* b)
{
    if (b[0] != s.ucSlaveAddress || b[1] != (s.ucFuncCod | 0x80))
        return false;
    const std::uint16_t crc = usMBCRC16(b, 3);
    return b[3] == (crc & 0xFF) && b[4] == (crc >> 8);
}

// Records an outcome in the link's fields (valid flag, message, exception code) and hands it
// back, so the fields and the returned value can never disagree.
ExchangeOutcome settle(LinkState& s, ExchangeOutcome o)
{
    s.responseValid = o.valid() ? 1 : 0;
    s.ucExceptionCode = o.result == ExchangeResult::Exception ? o.exceptionCode : 0;
    if (o.result == ExchangeResult::SerialError)
        s.commError = 1;
    SetCommErrorText(s, OutcomeText(o));
    return o;
}

// After a read: a serial error means the reply is lost; the port's own text says why.
std::optional<ExchangeOutcome> serialErrorAfterRead(LinkState& s, MasterIo& io)
{
    s.iRS232Error = io.com.ReturnRS232Err();
    if (s.iRS232Error >= 0)
        return std::nullopt;
    ExchangeOutcome o{ExchangeResult::SerialError};
    o.serialErrorText = io.com.GetRS232ErrorString(s.iRS232Error);
    return o;
}

// The four checks of a reply of the expected length; the flags go back to rest at 1 once
// their failures are in the outcome.
ExchangeOutcome checkReply(LinkState& s)
{
    if (CheckSlaveResponse(s) == 1)
        return ExchangeResult::Valid;
    ExchangeOutcome o{ExchangeResult::FailedChecks};
    std::uint8_t* const flags[] = {&s.ucFlagAddress, &s.ucFlagFuncCod, &s.ucFlagNumBytes, &s.ucFlagCRC};
    const std::uint8_t bits[] = {kCheckAddress, kCheckFunction, kCheckByteCount, kCheckCrc};
    for (int i = 0; i < 4; ++i) {
        if (!*flags[i])
            o.failedChecks |= bits[i];
        *flags[i] = 1;
    }
    return o;
}

}  // namespace

std::string OutcomeText(const ExchangeOutcome& o)
{
    switch (o.result) {
    case ExchangeResult::Valid: return {};
    case ExchangeResult::NoResponse: return "-NO RESPONSE-";
    case ExchangeResult::Exception: return "-EXCEPTION " + std::to_string(o.exceptionCode) + "-";
    case ExchangeResult::SerialError: return o.serialErrorText;
    case ExchangeResult::FailedChecks: break;
    }
    std::string text;
    if (o.failedChecks & kCheckAddress)
        text += "-UID-";
    if (o.failedChecks & kCheckFunction)
        text += "-FUNCCODE-";
    if (o.failedChecks & kCheckByteCount)
        text += "-BYTESNUM-";
    if (o.failedChecks & kCheckCrc)
        text += "-CRC-";
    return text;
}

ExchangeOutcome ReceiveDataMaster(LinkState& s, MasterIo& io, int port)
{
    if (s.ucFuncCod != 3)
        io.clock.Delay(kNonPollReplyWait);
    return TakeReply(s, io, port);
}

ExchangeOutcome TakeReply(LinkState& s, MasterIo& io, int port)
{
    s.usRxFrameLen = expectedReplyLength(s);
    s.ucExceptionCode = 0;
    // Nothing was sent (a request too large to build): whatever waits answers nothing of ours.
    if (s.usTxFrameLen == 0)
        return settle(s, ExchangeResult::NoResponse);
    const int waiting = io.com.GetInQLen(port);
    // A link that failed while the reply was awaited (a connection the gateway dropped)
    // says why; nothing can be read from it. A port that was never open is the opening's
    // business: its caller shows why, and the outcome stays no response.
    if (waiting < 0 && waiting != platform::RS_ERR_NOT_OPEN)
        if (auto err = serialErrorAfterRead(s, io))
            return settle(s, *err);

    // Five waiting bytes may be the slave refusing the request. They are taken only when they
    // are that; anything else stays queued, like any reply of the wrong length.
    constexpr int kExceptionLength = 5;
    if (waiting == kExceptionLength && s.usRxFrameLen != kExceptionLength) {
        std::uint8_t b[kExceptionLength] = {};
        const int seen = io.com.ComPeek(port, b, kExceptionLength);
        if (seen < 0)
            if (auto err = serialErrorAfterRead(s, io))
                return settle(s, *err);
        if (seen == kExceptionLength && isExceptionReply(s, b)) {
            io.com.ComRd(port, b, kExceptionLength);
            if (auto err = serialErrorAfterRead(s, io))
                return settle(s, *err);
            ExchangeOutcome o{ExchangeResult::Exception};
            o.exceptionCode = b[2];
            return settle(s, o);
        }
    }

    // A reply that cannot fit the buffer is never read, whatever the queue holds.
    if (waiting < 0 || static_cast<std::uint32_t>(waiting) != s.usRxFrameLen || s.usRxFrameLen > kFrameBufferSize)
        return settle(s, ExchangeResult::NoResponse);

    io.com.ComRd(port, s.ucRxBuffer, static_cast<int>(s.usRxFrameLen));
    s.ucSlaveAddressReceived = s.ucRxBuffer[0];
    s.ucFuncCodReceived = s.ucRxBuffer[1];
    s.usNBytesReceived = s.ucRxBuffer[2];
    if (auto err = serialErrorAfterRead(s, io))
        return settle(s, *err);
    return settle(s, checkReply(s));
}

std::vector<std::uint16_t> ReplyRegisters(const LinkState& s, const ExchangeOutcome& outcome)
{
    std::vector<std::uint16_t> regs;
    if (!outcome.valid() || (s.ucFuncCod != 3 && s.ucFuncCod != 4))
        return regs;
    const std::uint32_t n = std::min<std::uint32_t>(s.usNumCoilsRegs, (kFrameBufferSize - 5) / 2);
    for (std::uint32_t i = 0; i < n; ++i)
        regs.push_back(static_cast<std::uint16_t>(s.ucRxBuffer[3 + 2 * i] << 8 | s.ucRxBuffer[4 + 2 * i]));
    return regs;
}

ExchangeOutcome Exchange(LinkState& s, MasterIo& io, int port, double replyWait)
{
    ModBusMasterQuery(s);
    SendDataMaster(s, io, port);
    io.clock.Delay(replyWait);
    return ReceiveDataMaster(s, io, port);
}

double QuietTime(long baud) { return 3.5 * 11.0 / static_cast<double>(baud > 0 ? baud : 9600); }

namespace {

// Puts the request fields back to rest (the poll's request), so nothing of one call is left
// for the next.
void rest(LinkState& s)
{
    s.ucFuncCod = 3;
    s.ucFuncCodReceived = 3;
    s.usStartAddress = 0;
    s.usNumCoilsRegs = 78;
    s.usCoilRegAddress = 0;
    s.usWriteValue = 0;
    s.us_BufferPtr = nullptr;
}

}  // namespace

PendingReply::PendingReply(LinkState& s, MasterIo& io, int port, const ReplyWait& wait)
    : s_(&s), io_(io), port_(port), wait_(wait)
{
    ModBusMasterQuery(s);
    sentAt_ = io.clock.now();
    lastChange_ = sentAt_;
    const int sent = SendDataMaster(s, io, port);
    request_.assign(s.ucTxBuffer, s.ucTxBuffer + sent);
}

double PendingReply::Look()
{
    LinkState& s = *s_;
    const double now = io_.clock.now();
    const double deadline = sentAt_ + wait_.limit;
    // A microsecond short of the limit counts as the limit: a clock that cannot step that
    // finely would otherwise never get there.
    constexpr double kResolution = 1e-6;
    if (deadline - now < kResolution)
        return -1;
    // The poll waits out its whole window and judges what waits at its end.
    if (!wait_.endsEarly)
        return deadline - now;
    const double quiet = QuietTime(wait_.baud);
    const int waiting = io_.com.GetInQLen(port_);
    if (waiting < 0)
        return -1;  // the port's trouble: the verdict says what
    if (waiting != seen_) {
        seen_ = waiting;
        lastChange_ = now;
    }
    // Over once the expected frame (or an exception reply) is in and the line has been quiet
    // since; a byte that follows within the quiet time keeps the wait going, and the reply is
    // then too long, as it would be at the end of the window.
    const std::uint32_t expected = expectedReplyLength(s);
    bool whole = static_cast<std::uint32_t>(waiting) >= expected;
    if (waiting == 5 && expected != 5) {
        std::uint8_t b[5] = {};
        whole = io_.com.ComPeek(port_, b, 5) == 5 && isExceptionReply(s, b);
    }
    if (whole && now - lastChange_ >= quiet)
        return -1;
    return std::min(quiet / 4, deadline - now);
}

RtuResult PendingReply::Verdict()
{
    LinkState& s = *s_;
    RtuResult r;
    r.request = request_;
    r.waited = io_.clock.now() - sentAt_;
    r.outcome = TakeReply(s, io_, port_);
    switch (r.outcome.result) {
    case ExchangeResult::Valid:
    case ExchangeResult::FailedChecks: r.reply.assign(s.ucRxBuffer, s.ucRxBuffer + s.usRxFrameLen); break;
    case ExchangeResult::Exception: {
        // Taken only after its CRC checked, so these are its bytes.
        r.reply = {s.ucSlaveAddress, static_cast<std::uint8_t>(s.ucFuncCod | 0x80), r.outcome.exceptionCode};
        const std::uint16_t crc = usMBCRC16(r.reply.data(), 3);
        r.reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        r.reply.push_back(static_cast<std::uint8_t>(crc >> 8));
        break;
    }
    default: break;
    }
    r.registers = ReplyRegisters(s, r.outcome);
    if (restAfter_)
        rest(s);
    return r;
}

RtuResult PendingReply::WaitOut()
{
    for (double next = Look(); next >= 0; next = Look())
        io_.clock.Delay(next);
    return Verdict();
}

RtuResult RunLinkRequest(LinkState& s, MasterIo& io, int port, const ReplyWait& wait)
{
    return PendingReply(s, io, port, wait).WaitOut();
}

PendingReply StartReadHoldingRegisters(LinkState& s, MasterIo& io, int port, std::uint8_t slave, std::uint16_t start,
                                       std::uint16_t count, const ReplyWait& wait)
{
    // The slave's address is the request's only while it is built: the link's own stays as its
    // owner set it, whatever happens during the wait.
    const int address = s.slaveAddress;
    s.slaveAddress = slave;
    s.ucFuncCod = 3;
    s.ucFuncCodReceived = 3;
    s.usStartAddress = start;
    s.usNumCoilsRegs = count;
    PendingReply p(s, io, port, wait);
    s.slaveAddress = address;
    p.restAfter_ = true;
    return p;
}

PendingReply StartWriteSingleRegister(LinkState& s, MasterIo& io, int port, std::uint8_t slave, int reg,
                                      std::uint16_t value, const ReplyWait& wait)
{
    const int address = s.slaveAddress;
    s.slaveAddress = slave;
    s.ucFuncCod = 6;
    s.ucFuncCodReceived = 6;
    s.usCoilRegAddress = static_cast<std::uint32_t>(reg);
    s.usWriteValue = value;
    PendingReply p(s, io, port, wait);
    s.slaveAddress = address;
    p.restAfter_ = true;
    return p;
}

RtuResult ReadHoldingRegisters(LinkState& s, MasterIo& io, int port, std::uint8_t slave, std::uint16_t start,
                               std::uint16_t count, const ReplyWait& wait)
{
    return StartReadHoldingRegisters(s, io, port, slave, start, count, wait).WaitOut();
}

RtuResult WriteSingleRegister(LinkState& s, MasterIo& io, int port, std::uint8_t slave, int reg, std::uint16_t value,
                              const ReplyWait& wait)
{
    return StartWriteSingleRegister(s, io, port, slave, reg, value, wait).WaitOut();
}

long BaudRateOf(std::uint32_t baudSelector) { return baudSelector == 1 ? 19200 : 9600; }

int ParityCodeOf(std::uint16_t paritySelector)
{
    switch (paritySelector) {
    case 1: return platform::RS_PARITY_EVEN;
    case 2: return platform::RS_PARITY_ODD;
    default: return platform::RS_PARITY_NONE;
    }
}

int OpenComConfig_Vek(LinkState& s, platform::Rs232& com, int /*port*/, const std::string& /*deviceName*/,
                      std::uint32_t baudSelector, std::uint16_t paritySelector, int /*dataBits*/, int /*stopBits*/,
                      int inputQueueSize, int outputQueueSize)
{
    // The port, its device name, data bits and stop bits come from the link's own settings,
    // which is what every caller passes anyway.
    com.OpenComConfig(s.usPortNumber, s.deviceName, BaudRateOf(baudSelector), ParityCodeOf(paritySelector), s.usNumBits,
                      s.usStopBit, inputQueueSize, outputQueueSize);
    return 0;
}

}  // namespace vek
