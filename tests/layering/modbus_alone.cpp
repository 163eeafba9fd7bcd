// One poll and one write through the Modbus layer alone, on the in-memory line: proof that
// it builds, links and works with no window system and no Qt anywhere in the program.
#include <cstdio>
#include <vector>

#include "mb_crc.h"
#include "mb_rtu_master.h"
#include "memory_rs232.h"

using namespace vek;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes withCrc(Bytes f)
{
    const std::uint16_t crc = usMBCRC16(f.data(), static_cast<std::uint16_t>(f.size()));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

int failures = 0;

void expect(bool ok, const char* what)
{
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main()
{
    platform::VirtualClock clock;
    platform::MemoryRs232 com(clock);
    MasterIo io{com, clock};
    LinkState link;
    link.usPortNumber = 1;
    OpenComConfig_Vek(link, com, 1, "", link.ulBaudRate, link.usParity, link.usNumBits, link.usStopBit, 512, -1);

    Bytes reply = {1, 3, 156};
    for (int i = 0; i < 156; ++i)
        reply.push_back(static_cast<std::uint8_t>(i));
    reply = withCrc(reply);
    com.peer = [&](int port, const Bytes&) { com.inject(port, reply); };
    ExchangeOutcome o = Exchange(link, io, 1, 1.0);
    expect(o.valid() && link.responseValid == 1, "a good poll reply is valid");
    expect(com.frames.size() == 1 && com.frames[0] == Bytes({1, 3, 0, 0, 0, 0x4E, 0xC5, 0xFE}), "the poll frame");

    reply.back() ^= 0xFF;
    o = Exchange(link, io, 1, 1.0);
    expect(o.result == ExchangeResult::FailedChecks && o.failedChecks == kCheckCrc, "a bad CRC is a failed check");
    expect(OutcomeText(o) == "-CRC-" && link.commErrorText == "-CRC-", "the CRC marker");

    link.ucFuncCod = 6;
    link.usCoilRegAddress = 12;
    link.usWriteValue = 500;
    com.peer = [&](int port, const Bytes& frame) {
        com.inject(port, withCrc({1, 0x86, 2}));
        (void)frame;
    };
    o = Exchange(link, io, 1, 0.0);
    expect(o.result == ExchangeResult::Exception && o.exceptionCode == 2, "a refused write is exception 2");
    expect(clock.now() == 4.0, "two poll waits of 1 s and the write's 2 s");

    std::printf(failures ? "modbus alone: %d failure(s)\n" : "modbus alone: ok\n", failures);
    return failures ? 1 : 0;
}
