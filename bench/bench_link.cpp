// Cost of the link's hot paths: the table CRC against a bit-by-bit CRC over the same
// bytes, and one receive-and-check of a 161-byte poll reply (the in-memory line, no waits).
#include <benchmark/benchmark.h>

#include <vector>

#include "mb_crc.h"
#include "mb_rtu_master.h"
#include "memory_rs232.h"
#include "../tests/unit/reference_crc.h"

using namespace vek;

namespace {

std::vector<std::uint8_t> data(std::size_t n)
{
    std::vector<std::uint8_t> d(n);
    for (std::size_t i = 0; i < n; ++i)
        d[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return d;
}

void BM_CrcTable(benchmark::State& state)
{
    const auto d = data(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(usMBCRC16(d.data(), d.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CrcTable)->Arg(159)->Arg(4096);

void BM_CrcBitwise(benchmark::State& state)
{
    const auto d = data(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(test::referenceCrc(d.data(), d.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CrcBitwise)->Arg(159)->Arg(4096);

void BM_ReceiveAndCheckPollReply(benchmark::State& state)
{
    // The link alone: receiving and checking touch no window.
    platform::VirtualClock clock;
    platform::MemoryRs232 com(clock);
    LinkState link;
    link.usPortNumber = 1;
    com.OpenComConfig(1, "", 9600, 0, 8, 1, 512, -1);
    std::vector<std::uint8_t> reply = {1, 3, 156};
    for (int i = 0; i < 156; ++i)
        reply.push_back(static_cast<std::uint8_t>(i));
    const std::uint16_t crc = usMBCRC16(reply.data(), reply.size());
    reply.push_back(crc & 0xFF);
    reply.push_back(crc >> 8);
    ModBusMasterQuery(link);
    MasterIo io{com, clock};
    for (auto _ : state) {
        state.PauseTiming();
        com.inject(1, reply);
        state.ResumeTiming();
        ReceiveDataMaster(link, io, 1);
        benchmark::DoNotOptimize(link.responseValid);
    }
    if (link.responseValid != 1)
        state.SkipWithError("the reply did not pass its checks");
}
BENCHMARK(BM_ReceiveAndCheckPollReply);

}  // namespace

BENCHMARK_MAIN();
