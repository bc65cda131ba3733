// Micro-benchmarks of the emulator wire format (the CRC-16, building and
// framing a request, decoding a reply) and of what every call adds to it:
// taking and giving back its turn when no other call waits.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "packet.h"
#include "turns.h"

namespace {

using namespace gantry;

void BM_PacketCrc(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 31 + 7);
  for (auto _ : state)
    benchmark::DoNotOptimize(PacketCrc(0, data.data(), data.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PacketCrc)->Arg(26)->Arg(256)->Arg(4096);

/// The thirteen parameters of the database-information call, the largest
/// request the library makes. Shared by the benchmarks below.
struct InfoCall {
  uint16_t card = 0, attributes = 0, version = 0;
  uint32_t localId = 0x10000, created = 0, modified = 0, backedUp = 0, modNumber = 0;
  uint32_t appInfo = 0, sortInfo = 0, type = 0, creator = 0;
  char name[11] = "QuorvaneRT";
  TrapParam params[13] = {{'w', &card, 0},       {'d', &localId, 0},  {'s', name, 1},
                          {'w', &attributes, 1}, {'w', &version, 1},  {'d', &created, 1},
                          {'d', &modified, 1},   {'d', &backedUp, 1}, {'d', &modNumber, 1},
                          {'d', &appInfo, 1},    {'d', &sortInfo, 1}, {'d', &type, 1},
                          {'d', &creator, 1}};
};

void BM_BuildAndFrameRequest(benchmark::State& state) {
  InfoCall call;
  std::vector<uint8_t> body;
  for (auto _ : state) {
    BuildRequestBody(0xA046, 13, call.params, &body);
    benchmark::DoNotOptimize(FramePacket(1, 1, 0, 1, body.data(), body.size()));
  }
}
BENCHMARK(BM_BuildAndFrameRequest);

void BM_DecodeReply(benchmark::State& state) {
  InfoCall call;
  std::vector<uint8_t> reply;
  BuildRequestBody(0xA046, 13, call.params, &reply);  // same layout as the reply
  uint32_t d0 = 0;
  for (auto _ : state) {
    DecodeReply(reply.data(), reply.size(), 13, call.params, &d0);
    benchmark::DoNotOptimize(call.version);
  }
}
BENCHMARK(BM_DecodeReply);

void BM_CallTurnAlone(benchmark::State& state) {
  CallTurns turns;
  for (auto _ : state) {
    benchmark::DoNotOptimize(turns.Take(5000));
    turns.Give();
  }
}
BENCHMARK(BM_CallTurnAlone);

}  // namespace

BENCHMARK_MAIN();
