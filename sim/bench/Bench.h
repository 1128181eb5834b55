// The virtual bench behind the D2XX functions and the time source: the adapters on the USB
// bus, the target on the first one's connector, and the clock they all run on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "Clock.h"
#include "JtagPins.h"
#include "Target.h"
#include "VirtualAdapter.h"
#include "Warnings.h"

namespace qzsim {

struct BenchConfig {
  unsigned devices = 1;
  unsigned targetDevice = 0;  // the device whose connector carries the target
  TargetConfig target;
  AdapterFaults adapter;
  // No target on the connector: TDO stuck at this level.
  std::optional<bool> noTargetTdo;
  bool realtime = false;
  std::ostream* trace = nullptr;  // one line per D2XX call and sleep
};

// What went through the D2XX functions and the time source.
struct BenchStats {
  std::uint64_t writes = 0;        // FT_Write calls, failed ones included
  std::uint64_t bytesWritten = 0;  // bytes they took
  std::uint64_t reads = 0;         // FT_Read calls, failed ones included
  std::uint64_t bytesRead = 0;     // bytes they returned
  std::uint64_t sleepMs = 0;       // SleepMs arguments added up
};

// Lines of calls that moved no data written between two that did; the calls after them are
// counted in one line, "omitted N".
inline constexpr unsigned kQuietLines = 256;

// An open device as the front-ends know it: a token, never dereferenced; each open makes a new
// one, so a stale token never matches the open device.
using DeviceToken = std::uintptr_t;

class Bench {
 public:
  explicit Bench(const BenchConfig& config);

  unsigned Devices() const;
  unsigned TargetDevice() const { return config_.targetDevice; }
  Target& Controller() { return target_; }
  VirtualAdapter& Adapter() { return adapter_; }
  Warnings& ProtocolWarnings() { return warnings_; }
  VirtualClock& Clock() { return clock_; }
  BenchStats& Stats() { return stats_; }
  // "stats: virtual 1.234 s, sleeps 1200 ms, writes 5 (80 bytes), reads 4 (16 bytes),
  // TCK 3 ms, answer waits 34 ms, sync echoes 1"; "real" instead of "virtual" on the real clock.
  std::string StatsSummary() const;
  // One line of the trace. A call that moved no data (`moved` false: a poll or a read that found
  // nothing, a sleep, a setting) is held back: a run of identical ones is written once with its
  // count, and past kQuietLines lines since data last moved they are only counted.
  void Trace(const std::string& line, bool moved);
  // Writes what is held back; before the trace stream closes.
  void EndTrace();

  // The one open device's token, if the target's device is open.
  std::optional<DeviceToken> OpenDevice() const { return open_; }
  DeviceToken Open();
  void Close();

 private:
  const BenchConfig config_;
  Warnings warnings_;
  Target target_;
  std::unique_ptr<JtagPins> emptyConnector_;
  VirtualAdapter adapter_;
  VirtualClock clock_;
  BenchStats stats_;
  std::optional<DeviceToken> open_;
  DeviceToken opens_ = 0;
  std::string held_;              // the line of the run held back
  std::uint64_t heldCount_ = 0;   // its calls; 0: none held
  unsigned quietLines_ = 0;       // lines written since data last moved
  std::uint64_t omitted_ = 0;     // calls past kQuietLines, not written

  void WriteHeld();
  void WriteOmitted();
};

// Bytes as the traces show them: upper-case hex pairs without spaces.
std::string TraceHex(const void* bytes, std::size_t count);

// The bench the D2XX functions and the time source act on; a default one until configured.
Bench& CurrentBench();
// Replaces the bench by a fresh one: new target, adapter closed, clock at 0.
void ConfigureBench(const BenchConfig& config);

}  // namespace qzsim
