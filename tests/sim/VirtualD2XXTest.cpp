#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "D2XX.h"
#include "JtagScript.h"
#include "Platform.h"

namespace {

using simtest::Bytes;

qzsim::BenchConfig WithDevices(unsigned devices) {
  qzsim::BenchConfig config;
  config.devices = devices;
  return config;
}

DWORD Queued(FT_HANDLE handle) {
  DWORD queued = 0;
  EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
  return queued;
}

void Write(FT_HANDLE handle, Bytes bytes) {
  DWORD written = 0;
  ASSERT_EQ(FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written), FT_OK);
  ASSERT_EQ(written, bytes.size());
}

Bytes Read(FT_HANDLE handle, DWORD count) {
  Bytes bytes(count);
  DWORD read = 0;
  EXPECT_EQ(FT_Read(handle, bytes.data(), count, &read), FT_OK);
  bytes.resize(read);
  return bytes;
}

// Every call on the handle fails and moves nothing.
void ExpectDead(FT_HANDLE handle) {
  DWORD value = 77;
  EXPECT_NE(FT_GetQueueStatus(handle, &value), FT_OK);
  Bytes buffer(4, 0x55);
  value = 77;
  EXPECT_NE(FT_Read(handle, buffer.data(), 4, &value), FT_OK);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(buffer, Bytes(4, 0x55));
  Bytes out = {0xAA};
  value = 77;
  EXPECT_NE(FT_Write(handle, out.data(), 1, &value), FT_OK);
  EXPECT_EQ(value, 0u);
  EXPECT_NE(FT_ResetDevice(handle), FT_OK);
  EXPECT_NE(FT_SetUSBParameters(handle, 64, 64), FT_OK);
  EXPECT_NE(FT_SetChars(handle, 0, 0, 0, 0), FT_OK);
  EXPECT_NE(FT_SetTimeouts(handle, 0, 5000), FT_OK);
  EXPECT_NE(FT_SetLatencyTimer(handle, 2), FT_OK);
  EXPECT_NE(FT_SetBitMode(handle, 0, 0x02), FT_OK);
  EXPECT_NE(FT_Close(handle), FT_OK);
}

TEST(VirtualD2XX, NoAdapterOnTheBus) {
  qzsim::ConfigureBench(WithDevices(0));
  DWORD devices = 9;
  EXPECT_EQ(FT_CreateDeviceInfoList(&devices), FT_OK);
  EXPECT_EQ(devices, 0u);
  FT_HANDLE handle = nullptr;
  EXPECT_NE(FT_Open(0, &handle), FT_OK);
  EXPECT_EQ(handle, nullptr);
  ExpectDead(handle);
}

TEST(VirtualD2XX, SeveralDevicesOnlyTheFirstOpens) {
  qzsim::ConfigureBench(WithDevices(3));
  DWORD devices = 0;
  EXPECT_EQ(FT_CreateDeviceInfoList(&devices), FT_OK);
  EXPECT_EQ(devices, 3u);
  FT_HANDLE handle = nullptr;
  EXPECT_NE(FT_Open(1, &handle), FT_OK);
  EXPECT_NE(FT_Open(3, &handle), FT_OK);
  EXPECT_NE(FT_Open(-1, &handle), FT_OK);
  EXPECT_EQ(FT_Open(0, &handle), FT_OK);
  FT_HANDLE second = nullptr;
  EXPECT_NE(FT_Open(0, &second), FT_OK) << "already open";
  EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST(VirtualD2XX, NeverOpenedAndClosedHandlesAreRefused) {
  qzsim::ConfigureBench({});
  int token = 0;
  ExpectDead(&token);
  ExpectDead(nullptr);

  FT_HANDLE handle = simtest::OpenMpsse();
  Write(handle, {0xAA});
  ASSERT_EQ(Queued(handle), 2u);
  EXPECT_EQ(FT_Close(handle), FT_OK);
  ExpectDead(handle);

  FT_HANDLE again = nullptr;
  ASSERT_EQ(FT_Open(0, &again), FT_OK);
  EXPECT_NE(again, handle) << "a stale handle must not reach the reopened device";
  EXPECT_EQ(Queued(again), 0u) << "closing dropped the answer";
  ExpectDead(handle);
  EXPECT_EQ(FT_Close(again), FT_OK);
}

TEST(VirtualD2XX, UnplugAfterWrites) {
  qzsim::BenchConfig config;
  config.adapter.unplugAfterWrites = 3;  // the set-up is the first
  qzsim::ConfigureBench(config);
  FT_HANDLE handle = simtest::OpenMpsse();
  Write(handle, {0xAA});
  EXPECT_EQ(Queued(handle), 2u);
  Write(handle, {0xAA});
  DWORD devices = 9;
  EXPECT_EQ(FT_CreateDeviceInfoList(&devices), FT_OK);
  EXPECT_EQ(devices, 0u);
  ExpectDead(handle);
  FT_HANDLE again = nullptr;
  EXPECT_NE(FT_Open(0, &again), FT_OK);
}

TEST(VirtualD2XX, ReadTakesAtMostWhatIsQueuedInOrder) {
  qzsim::ConfigureBench({});
  FT_HANDLE handle = simtest::OpenMpsse();
  Write(handle, {0xAA});
  Write(handle, {0xAB});
  EXPECT_EQ(Queued(handle), 4u);
  EXPECT_EQ(Read(handle, 3), (Bytes{0xFA, 0xAA, 0xFA}));
  EXPECT_EQ(Queued(handle), 1u);
  EXPECT_EQ(Read(handle, 64), (Bytes{0xAB}));
  EXPECT_EQ(Read(handle, 64), Bytes{});
}

TEST(VirtualD2XX, LateAnswersArriveInPiecesOverPolls) {
  qzsim::BenchConfig config;
  config.adapter.lateReplyBytes = 2;
  qzsim::ConfigureBench(config);
  FT_HANDLE handle = simtest::OpenMpsse();
  Write(handle, {0x4B, 0x04, 0xFF, 0x4B, 0x04, 0x06, 0x3B, 0x06, 0x02, 0x6B, 0x00,
                 0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                 0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01});
  EXPECT_EQ(Read(handle, 6), Bytes{}) << "nothing before the first poll";
  EXPECT_EQ(Queued(handle), 2u);
  EXPECT_EQ(Read(handle, 6), (Bytes{0x02, 0x00}));
  EXPECT_EQ(Queued(handle), 2u);
  EXPECT_EQ(Queued(handle), 4u);
  EXPECT_EQ(Queued(handle), 4u) << "the answer is complete";
  EXPECT_EQ(Read(handle, 6), (Bytes{0x1D, 0x60, 0xF4, 0x01}));

  Write(handle, {0xAA});
  EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
  EXPECT_EQ(Queued(handle), 0u) << "the reset drops bytes still on their way";
}

TEST(VirtualD2XX, BytesOutsideMpsseModeAreDropped) {
  qzsim::ConfigureBench({});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(0, &handle), FT_OK);
  Write(handle, {0xAA, 0x80, 0x08, 0x1B});
  EXPECT_EQ(Queued(handle), 0u);
  EXPECT_FALSE(qzsim::CurrentBench().Controller().InReset());

  ASSERT_EQ(FT_SetBitMode(handle, 0x00, 0x02), FT_OK);
  Write(handle, {0x80, 0x08, 0x1B, 0xAA});
  EXPECT_EQ(Read(handle, 8), (Bytes{0xFA, 0xAA}));
  EXPECT_TRUE(qzsim::CurrentBench().Controller().InReset());

  ASSERT_EQ(FT_SetBitMode(handle, 0x00, 0x00), FT_OK);
  EXPECT_FALSE(qzsim::CurrentBench().Controller().InReset()) << "pins released";
  Write(handle, {0xAA});
  EXPECT_EQ(Queued(handle), 0u);

  EXPECT_NE(FT_SetBitMode(handle, 0x00, 0x01), FT_OK);
  EXPECT_NE(FT_SetLatencyTimer(handle, 0), FT_OK);
  EXPECT_NE(FT_SetUSBParameters(handle, 100, 64), FT_OK);
  EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST(VirtualD2XX, ResetDeviceEmptiesTheQueue) {
  qzsim::ConfigureBench({});
  FT_HANDLE handle = simtest::OpenMpsse();
  Write(handle, {0xAA});
  EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
  EXPECT_EQ(Queued(handle), 0u);
}

TEST(VirtualD2XX, VirtualClockMovesWithSleepsAndPollsOnly) {
  qzsim::ConfigureBench({});
  EXPECT_EQ(MonotonicMs(), 0u);
  const auto start = std::chrono::steady_clock::now();
  SleepMs(100000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(MonotonicMs(), 100000u);

  // A host that polls an empty queue without sleeping still sees its deadline pass.
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(0, &handle), FT_OK);
  int polls = 0;
  while (MonotonicMs() < 101000 && polls < 100000) {
    EXPECT_EQ(Queued(handle), 0u);
    ++polls;
  }
  EXPECT_EQ(polls, 8000);
}

TEST(VirtualD2XX, RealtimeClockSleepsForReal) {
  qzsim::BenchConfig config;
  config.realtime = true;
  qzsim::ConfigureBench(config);
  const std::uint64_t before = MonotonicMs();
  const auto start = std::chrono::steady_clock::now();
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_GE(MonotonicMs() - before, 20u);
}

TEST(VirtualD2XX, StatsCountWritesReadsSleepsAndTheClock) {
  qzsim::ConfigureBench({});
  qzsim::Bench& bench = qzsim::CurrentBench();
  EXPECT_EQ(bench.StatsSummary(),
            "stats: virtual 0.000 s, sleeps 0 ms, writes 0 (0 bytes), reads 0 (0 bytes)");
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(0, &handle), FT_OK);
  ASSERT_EQ(FT_SetBitMode(handle, 0x00, 0x02), FT_OK);
  SleepMs(1200);
  SleepMs(34);
  Write(handle, {0xAA, 0x8A});
  Write(handle, {0x8A});
  EXPECT_EQ(Queued(handle), 2u);
  EXPECT_EQ(Read(handle, 1), Bytes{0xFA});
  EXPECT_EQ(Read(handle, 8), Bytes{0xAA});
  EXPECT_EQ(Read(handle, 8), Bytes{});
  FT_Close(handle);
  Bytes out = {0xAA};
  DWORD value = 0;
  EXPECT_NE(FT_Write(handle, out.data(), 1, &value), FT_OK);
  const qzsim::BenchStats& stats = bench.Stats();
  EXPECT_EQ(stats.writes, 3u) << "a failed write is a call that moves nothing";
  EXPECT_EQ(stats.bytesWritten, 3u);
  EXPECT_EQ(stats.reads, 3u);
  EXPECT_EQ(stats.bytesRead, 2u);
  EXPECT_EQ(stats.sleepMs, 1234u);
  EXPECT_EQ(bench.StatsSummary(),
            "stats: virtual 1.234 s, sleeps 1234 ms, writes 3 (3 bytes), reads 3 (2 bytes)")
      << "one poll adds 125 us, below the millisecond shown";
}

TEST(VirtualD2XX, StatsOnTheRealClockSayReal) {
  qzsim::BenchConfig config;
  config.realtime = true;
  qzsim::ConfigureBench(config);
  SleepMs(5);
  const std::string summary = qzsim::CurrentBench().StatsSummary();
  EXPECT_EQ(summary.rfind("stats: real 0.0", 0), 0u) << summary;
  EXPECT_NE(summary.find(" s, sleeps 5 ms, writes 0 (0 bytes), reads 0 (0 bytes)"),
            std::string::npos)
      << summary;
}

TEST(VirtualD2XX, TraceHasOneLinePerCallInOrder) {
  std::ostringstream trace;
  qzsim::BenchConfig config;
  config.trace = &trace;
  qzsim::ConfigureBench(config);
  DWORD value = 0;
  FT_HANDLE handle = nullptr;
  FT_CreateDeviceInfoList(&value);
  FT_Open(0, &handle);
  FT_ResetDevice(handle);
  FT_SetUSBParameters(handle, 64, 64);
  FT_SetChars(handle, 0, 0, 0, 0);
  FT_SetTimeouts(handle, 0, 5000);
  FT_SetLatencyTimer(handle, 2);
  FT_SetBitMode(handle, 0x00, 0x02);
  SleepMs(50);
  Bytes out = {0xAA, 0x8A};
  FT_Write(handle, out.data(), 2, &value);
  FT_GetQueueStatus(handle, &value);
  Bytes in(8);
  FT_Read(handle, in.data(), 8, &value);
  FT_Read(handle, in.data(), 8, &value);
  FT_Close(handle);
  FT_Write(handle, out.data(), 2, &value);
  FT_Read(handle, in.data(), 8, &value);
  FT_GetQueueStatus(handle, &value);
  EXPECT_EQ(trace.str(),
            "FT_CreateDeviceInfoList 1 status 0\n"
            "FT_Open 0 status 0\n"
            "FT_ResetDevice status 0\n"
            "FT_SetUSBParameters 64 64 status 0\n"
            "FT_SetChars 0 0 0 0 status 0\n"
            "FT_SetTimeouts 0 5000 status 0\n"
            "FT_SetLatencyTimer 2 status 0\n"
            "FT_SetBitMode 0 2 status 0\n"
            "sleep 50\n"
            "write AA8A\n"
            "FT_GetQueueStatus 2 status 0\n"
            "read FAAA\n"
            "read \n"
            "FT_Close status 0\n"
            "write AA8A status 1\n"
            "read status 1\n"
            "FT_GetQueueStatus - status 1\n");
}

}  // namespace
