#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

#include "Bench.h"
#include "D2XX.h"
#include "JtagScript.h"
#include "Platform.h"

namespace {

using simtest::Bytes;

DWORD Queued(FT_HANDLE handle) {
  DWORD queued = 0;
  EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
  return queued;
}

Bytes Read(FT_HANDLE handle, DWORD count) {
  Bytes bytes(count);
  EXPECT_EQ(FT_Read(handle, bytes.data(), count, &count), FT_OK);
  bytes.resize(count);
  return bytes;
}

// Every call on the handle fails with `status` and moves nothing.
void ExpectDead(FT_HANDLE handle, FT_STATUS status) {
  DWORD value = 77;
  EXPECT_EQ(FT_GetQueueStatus(handle, &value), status);
  Bytes buffer(4, 0x55);
  EXPECT_EQ(FT_Read(handle, buffer.data(), 4, &value), status);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(buffer, Bytes(4, 0x55));
  value = 77;
  EXPECT_EQ(FT_Write(handle, buffer.data(), 1, &value), status);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(FT_ResetDevice(handle), status);
  EXPECT_EQ(FT_SetUSBParameters(handle, 64, 64), status);
  EXPECT_EQ(FT_SetChars(handle, 0, 0, 0, 0), status);
  EXPECT_EQ(FT_SetTimeouts(handle, 0, 5000), status);
  EXPECT_EQ(FT_SetLatencyTimer(handle, 2), status);
  EXPECT_EQ(FT_SetBitMode(handle, 0, 0x02), status);
  EXPECT_EQ(FT_Close(handle), status);
}

TEST(VirtualD2XX, CallsOnNeverOpenedClosedStaleOrUnpluggedHandlesFail) {
  qzsim::ConfigureBench({});
  int token = 0;
  ExpectDead(&token, FT_INVALID_HANDLE);
  ExpectDead(nullptr, FT_INVALID_HANDLE);
  FT_HANDLE handle = simtest::OpenMpsse();
  DWORD count = 0;
  EXPECT_EQ(FT_Write(handle, Bytes{0xAA}.data(), 1, &count), FT_OK);
  EXPECT_EQ(FT_Close(handle), FT_OK);
  ExpectDead(handle, FT_INVALID_HANDLE);
  FT_HANDLE again = nullptr;
  ASSERT_EQ(FT_Open(0, &again), FT_OK);
  EXPECT_EQ(Queued(again), 0u) << "closing dropped the answer";
  ExpectDead(handle, FT_INVALID_HANDLE);  // stale: it must not reach the reopened device

  qzsim::BenchConfig config;
  config.adapter.unplugAfterWrites = 3;  // the set-up is the first
  qzsim::ConfigureBench(config);
  handle = simtest::OpenMpsse();
  EXPECT_EQ(simtest::Transfer(handle, {0xAA}), (Bytes{0xFA, 0xAA}));
  EXPECT_EQ(FT_Write(handle, Bytes{0xAA}.data(), 1, &count), FT_OK);
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 0u) << "one device fewer";
  ExpectDead(handle, FT_IO_ERROR);
  EXPECT_NE(FT_Open(0, &again), FT_OK);
}

// Device 0 carries the target, the others are in use elsewhere; none opens twice.
TEST(VirtualD2XX, OnlyTheFirstDeviceOpensAndOnlyOnce) {
  for (unsigned devices : {0u, 3u}) {
    qzsim::BenchConfig config;
    config.devices = devices;
    qzsim::ConfigureBench(config);
    DWORD count = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, devices);
    FT_HANDLE handle = nullptr;
    for (int number : {-1, 1, 3}) EXPECT_NE(FT_Open(number, &handle), FT_OK) << number;
    EXPECT_EQ(FT_Open(0, &handle) == FT_OK, devices > 0);
    EXPECT_NE(FT_Open(0, &handle), FT_OK) << devices;
  }
}

TEST(VirtualD2XX, ReadsTakeWhatIsQueuedInOrderAndLateAnswersTrickleIn) {
  // Three 8-bit reads in Test-Logic-Reset (TDO high), then an echoed bad command.
  Bytes out = {0x2A, 0x07, 0x2A, 0x07, 0x2A, 0x07, 0xAB};
  DWORD count = 0;
  qzsim::ConfigureBench({});
  FT_HANDLE handle = simtest::OpenMpsse();
  EXPECT_EQ(FT_Write(handle, out.data(), 7, &count), FT_OK);
  EXPECT_EQ(Read(handle, 2), (Bytes{0xFF, 0xFF})) << "at once, no more than asked";
  EXPECT_EQ(Read(handle, 8), (Bytes{0xFF, 0xFA, 0xAB}));
  EXPECT_EQ(FT_Write(handle, out.data(), 7, &count), FT_OK);
  EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
  EXPECT_EQ(Queued(handle), 0u) << "the reset empties the queue";

  qzsim::BenchConfig config;
  config.adapter.lateReplyBytes = 2;
  qzsim::ConfigureBench(config);
  handle = simtest::OpenMpsse();
  EXPECT_EQ(FT_Write(handle, out.data(), 7, &count), FT_OK);
  EXPECT_EQ(Read(handle, 8), Bytes{}) << "nothing before the first poll";
  EXPECT_EQ(Queued(handle), 2u);
  EXPECT_EQ(Read(handle, 8), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(Queued(handle), 2u);
  EXPECT_EQ(Queued(handle), 3u);
  EXPECT_EQ(Queued(handle), 3u) << "the answer is complete";
  EXPECT_EQ(Read(handle, 8), (Bytes{0xFF, 0xFA, 0xAB}));
  EXPECT_EQ(FT_Write(handle, out.data(), 7, &count), FT_OK);
  EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
  EXPECT_EQ(Queued(handle), 0u) << "the reset drops bytes still on their way";
}

TEST(VirtualD2XX, BytesOutsideMpsseModeAreDropped) {
  qzsim::ConfigureBench({});
  const qzsim::Target& target = qzsim::CurrentBench().Controller();
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(0, &handle), FT_OK);
  EXPECT_EQ(simtest::Transfer(handle, {0xAA, 0x80, 0x08, 0x1B}), Bytes{});
  EXPECT_FALSE(target.InReset());
  ASSERT_EQ(FT_SetBitMode(handle, 0x00, 0x02), FT_OK);
  EXPECT_EQ(simtest::Transfer(handle, {0x80, 0x08, 0x1B, 0xAA}), (Bytes{0xFA, 0xAA}));
  EXPECT_TRUE(target.InReset());
  ASSERT_EQ(FT_SetBitMode(handle, 0x00, 0x00), FT_OK);
  EXPECT_FALSE(target.InReset()) << "pins released";
  EXPECT_EQ(simtest::Transfer(handle, {0xAA}), Bytes{});
  EXPECT_EQ(FT_SetBitMode(handle, 0x00, 0x01), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetLatencyTimer(handle, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetUSBParameters(handle, 100, 64), FT_INVALID_PARAMETER);
}

// Sleeps and queue polls (125 us each) move the virtual clock, nothing else, and take no time.
TEST(VirtualD2XX, VirtualClockMovesWithSleepsAndPollsOnly) {
  qzsim::ConfigureBench({});
  const auto start = std::chrono::steady_clock::now();
  SleepMs(100000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(MonotonicMs(), 100000u);
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(0, &handle), FT_OK);
  int polls = 0;
  for (; MonotonicMs() < 101000 && polls < 100000; ++polls) EXPECT_EQ(Queued(handle), 0u);
  EXPECT_EQ(polls, 8000);
}

TEST(VirtualD2XX, RealtimeClockSleepsForRealAndSaysSo) {
  qzsim::BenchConfig config;
  config.realtime = true;
  qzsim::ConfigureBench(config);
  const auto start = std::chrono::steady_clock::now();
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_GE(MonotonicMs(), 20u);
  const std::string summary = qzsim::CurrentBench().StatsSummary();
  EXPECT_EQ(summary.substr(0, 15) + summary.substr(summary.find(" s,")),
            "stats: real 0.0 s, sleeps 20 ms, writes 0 (0 bytes), reads 0 (0 bytes), sync echoes 0");
}

// One trace line per call, in order; failed calls count in the stats and move nothing.
TEST(VirtualD2XX, TraceAndStatsShowEveryCall) {
  std::ostringstream trace;
  qzsim::BenchConfig config;
  config.trace = &trace;
  qzsim::ConfigureBench(config);
  const qzsim::Bench& bench = qzsim::CurrentBench();
  EXPECT_EQ(bench.StatsSummary(),
            "stats: virtual 0.000 s, sleeps 0 ms, writes 0 (0 bytes), reads 0 (0 bytes), sync echoes 0");
  DWORD value = 0;
  FT_HANDLE handle = nullptr;
  Bytes out = {0xAA, 0x8A}, in(8);
  const std::pair<std::function<void()>, std::string> calls[] = {
      {[&] { FT_CreateDeviceInfoList(&value); }, "FT_CreateDeviceInfoList 1 status 0"},
      {[&] { FT_Open(0, &handle); }, "FT_Open 0 status 0"},
      {[&] { FT_ResetDevice(handle); }, "FT_ResetDevice status 0"},
      {[&] { FT_SetUSBParameters(handle, 64, 64); }, "FT_SetUSBParameters 64 64 status 0"},
      {[&] { FT_SetChars(handle, 0, 0, 0, 0); }, "FT_SetChars 0 0 0 0 status 0"},
      {[&] { FT_SetTimeouts(handle, 0, 5000); }, "FT_SetTimeouts 0 5000 status 0"},
      {[&] { FT_SetLatencyTimer(handle, 2); }, "FT_SetLatencyTimer 2 status 0"},
      {[&] { FT_SetBitMode(handle, 0x00, 0x02); }, "FT_SetBitMode 0 2 status 0"},
      {[&] { SleepMs(50); }, "sleep 50"},
      {[&] { FT_Write(handle, out.data(), 2, &value); }, "write AA8A"},
      {[&] { FT_GetQueueStatus(handle, &value); }, "FT_GetQueueStatus 2 status 0"},
      {[&] { FT_Read(handle, in.data(), 8, &value); }, "read FAAA"},
      {[&] { FT_Read(handle, in.data(), 8, &value); }, "read "},
      {[&] { FT_Close(handle); }, "FT_Close status 0"},
      {[&] { FT_Write(handle, out.data(), 2, &value); }, "write AA8A status 1"},
      {[&] { FT_Read(handle, in.data(), 8, &value); }, "read status 1"},
      {[&] { FT_GetQueueStatus(handle, &value); }, "FT_GetQueueStatus - status 1"},
  };
  for (const auto& [call, line] : calls) {
    trace.str("");
    call();
    EXPECT_EQ(trace.str(), line + "\n");
  }
  // Two polls (250 us) stay below the millisecond shown.
  EXPECT_EQ(bench.StatsSummary(),
            "stats: virtual 0.050 s, sleeps 50 ms, writes 2 (2 bytes), reads 3 (2 bytes), sync echoes 1");
}

}  // namespace
