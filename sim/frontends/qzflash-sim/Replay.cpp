#include "Replay.h"

#include <charconv>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#include "FlashState.h"

namespace qzsim {

namespace {

enum class Call : std::uint8_t {
  DeviceList, DeviceDetail, Open, Reset, QueueStatus, UsbParameters, Chars, Timeouts, Latency, BitMode, Close,
  Read, Write, Sleep,
};

struct Shape {
  std::string_view name;
  Call call;
  std::size_t arguments;
};

// The calls that move no data: "<name> <arguments> status <n>".
constexpr Shape kCalls[] = {
    {"FT_CreateDeviceInfoList", Call::DeviceList, 1},
    {"FT_GetDeviceInfoDetail", Call::DeviceDetail, 1},
    {"FT_Open", Call::Open, 1},
    {"FT_ResetDevice", Call::Reset, 0},
    {"FT_GetQueueStatus", Call::QueueStatus, 1},
    {"FT_SetUSBParameters", Call::UsbParameters, 2},
    {"FT_SetChars", Call::Chars, 4},
    {"FT_SetTimeouts", Call::Timeouts, 2},
    {"FT_SetLatencyTimer", Call::Latency, 1},
    {"FT_SetBitMode", Call::BitMode, 2},
    {"FT_Close", Call::Close, 0},
};

struct Event {
  Call call = Call::Sleep;
  std::size_t line = 0;
  std::vector<std::uint64_t> arguments;
  std::vector<std::uint8_t> bytes;
  std::uint64_t status = 0;
  std::uint64_t times = 1;  // a run of identical calls written once
};

bool Number(std::string_view text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool HexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
  const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (digit(text[i]) < 0 || digit(text[i + 1]) < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
  }
  return true;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0;;) {
    const std::size_t blank = text.find(' ', at);
    words.push_back(text.substr(at, blank - at));
    if (blank == text.npos) return words;
    at = blank + 1;
  }
}

// "write <HEX>", "read <HEX>", each with " status <n>" when it failed.
bool ParseData(const std::vector<std::string_view>& words, Event& event) {
  std::size_t at = 1;
  if (at < words.size() && words[at] != "status" && !HexBytes(words[at++], event.bytes)) return false;
  if (at < words.size() &&
      (words[at] != "status" || at + 2 != words.size() || !Number(words[at + 1], event.status) || event.status == 0))
    return false;
  return event.times == 1 || event.bytes.empty();
}

// False when the line is none of the trace's.
bool Parse(std::string_view text, Event& event) {
  std::vector<std::string_view> words = Words(text);
  if (words.size() >= 3 && words[words.size() - 2] == "times") {
    if (!Number(words.back(), event.times) || event.times < 2) return false;
    words.resize(words.size() - 2);
  }
  if (words[0] == "read" || words[0] == "write") {
    event.call = words[0] == "read" ? Call::Read : Call::Write;
    return ParseData(words, event);
  }
  if (words[0] == "sleep") {
    event.arguments.resize(1);
    return words.size() == 2 && Number(words[1], event.arguments[0]);
  }
  for (const Shape& shape : kCalls) {
    if (words[0] != shape.name) continue;
    event.call = shape.call;
    if (words.size() != shape.arguments + 3 || words[shape.arguments + 1] != "status" ||
        !Number(words.back(), event.status))
      return false;
    for (std::size_t i = 1; i <= shape.arguments; ++i) {
      event.arguments.push_back(0);
      // A failed poll reports no count.
      const bool noCount = shape.call == Call::QueueStatus && words[i] == "-" && event.status != 0;
      if (!noCount && !Number(words[i], event.arguments.back())) return false;
    }
    return true;
  }
  return false;
}

bool OnDevice(Call call) {
  return call != Call::DeviceList && call != Call::DeviceDetail && call != Call::Open && call != Call::Sleep;
}

const char* NameOf(Call call) {
  if (call == Call::Read) return "read";
  if (call == Call::Write) return "write";
  for (const Shape& shape : kCalls)
    if (shape.call == call) return shape.name.data();
  return "sleep";
}

// The start of a line as the message shows it: a binary file's bytes are not for the terminal.
std::string Shown(std::string_view line) {
  std::string text(line.substr(0, 60));
  for (char& c : text)
    if (c < ' ' || c > '~') c = '?';
  return text;
}

// Reads the trace's events in order and hands each to play until it returns false. Empty when
// the trace can be replayed, else why not: a line that is none of the trace's (a foreign file),
// the device used while closed or opened twice (lines out of order), a last line cut short or the
// device left open (a trace that ends early).
std::string Walk(std::istream& in, const std::function<bool(const Event&)>& play) {
  bool open = false;
  std::size_t number = 0;
  for (std::string text; std::getline(in, text);) {
    const std::string where = "line " + std::to_string(++number) + ": ";
    if (in.eof()) return where + "cut short: the trace is truncated";
    std::string_view line = text;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with("omitted ")) return where + "calls left out of the trace; it cannot be replayed";
    Event event;
    event.line = number;
    if (line.empty() || !Parse(line, event)) return where + "'" + Shown(line) + "' is not a line of a D2XX trace";
    const bool done = event.status == 0;
    if (event.call == Call::Open && done && open) return where + "FT_Open while the device is open: lines out of order";
    if (event.call == Call::Close && !open && done) return where + "FT_Close with no device open: lines out of order";
    if (OnDevice(event.call) && event.call != Call::Close && done && !open) {
      return where + NameOf(event.call) + " with no device open: lines out of order";
    }
    if (event.call == Call::Open && done) open = true;
    if (event.call == Call::Close) open = false;
    if (!play(event)) return {};
  }
  if (number == 0) return "holds no D2XX call";
  if (open) return "ends with the device open: the trace is truncated";
  return {};
}

// What made an answer byte of the model.
struct Source {
  ScanReport scan;
  bool echo = false;        // the engine's bad-command echo, no scan
  std::uint64_t write = 0;  // the write whose commands made it, from 1
  std::size_t line = 0;     // that write's line
};

std::string Byte(std::uint8_t byte) { return TraceHex(&byte, 1); }

class Replayer {
 public:
  explicit Replayer(const BenchConfig& config) : bench_(config) {}

  Bench& Model() { return bench_; }

  // False at the first divergence, which is then in report.
  bool Play(const Event& event, std::ostream& report) {
    VirtualAdapter& adapter = bench_.Adapter();
    VirtualClock& clock = bench_.Clock();
    if (event.call == Call::Sleep) {
      // A hand-made trace may name any length: the clock stops at its end rather than wrap.
      const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 1000;
      const std::uint64_t ms = event.times != 0 && event.arguments[0] > limit / event.times ? limit
                                                                                               : event.arguments[0] * event.times;
      clock.SleepMicros(ms * 1000);
      return true;
    }
    if (event.call == Call::QueueStatus) {
      clock.SleepMicros(VirtualClock::kPollMicros * event.times);
      if (event.status == 0) HandOver(event.arguments[0]);
      return true;
    }
    if (event.status != 0 && event.call != Call::Close) return true;
    switch (event.call) {
      case Call::Reset: Purge(); break;
      case Call::Latency: adapter.SetLatencyMs(static_cast<std::uint8_t>(event.arguments[0])); break;
      case Call::BitMode: adapter.SetBitMode(static_cast<std::uint8_t>(event.arguments[1]), clock.NowMicros()); break;
      case Call::Close:
        adapter.Release(clock.NowMicros());
        Purge();
        break;
      case Call::Write: Write(event); break;
      case Call::Read: return Read(event, report);
      default: break;
    }
    return true;
  }

  // "4096 answer bytes of 544 writes"
  std::string Agreed() const {
    return std::to_string(compared_) + " answer bytes of " + std::to_string(writes_) + " writes";
  }

  // Flash words are the board's own: they are counted, not taken for divergences.
  std::string FlashWords() const {
    if (flashWords_ == 0) return {};
    std::string text = "flash words read: " + std::to_string(flashWords_) + ", " + std::to_string(flashDiffering_) +
                       " of them not as in the state given";
    if (flashDiffering_ > 0) text += " (first: " + firstFlash_ + ")";
    return text;
  }

 private:
  void Purge() {
    bench_.Adapter().Purge();
    pending_.clear();
  }

  // The writes go into the engine a byte at a time, so that each answer byte is known with the
  // scan it came out of.
  void Write(const Event& event) {
    ++writes_;
    VirtualAdapter& adapter = bench_.Adapter();
    const Warnings& warnings = bench_.ProtocolWarnings();
    const auto echoes = [&warnings] { return warnings.SyncEchoes() + warnings.Of(Warning::BadCommandEcho); };
    for (std::uint8_t byte : event.bytes) {
      const std::uint64_t made = adapter.AnswerBytes();
      const std::uint64_t echoed = echoes();
      adapter.Write(std::span(&byte, 1), bench_.Clock().NowMicros());
      const ScanReport& scan = bench_.Controller().LastScan();
      const bool echo = echoes() > echoed;
      // The bytes of one scan share their source, which learns what the scan's update took.
      const bool sameScan =
          last_ && !last_->echo && !echo && last_->write == writes_ && last_->scan.number == scan.number;
      if (sameScan) last_->scan = scan;
      if (adapter.AnswerBytes() > made) {
        if (!sameScan) last_ = std::make_shared<Source>(Source{scan, echo, writes_, event.line});
        pending_.insert(pending_.end(), adapter.AnswerBytes() - made, last_);
      }
    }
  }

  // The recorded run had `count` bytes in: the model's clock catches up with the chip passing
  // them on, as long as any are on their way.
  std::size_t HandOver(std::uint64_t count) {
    VirtualAdapter& adapter = bench_.Adapter();
    std::size_t in = adapter.Poll(bench_.Clock().NowMicros());
    for (std::optional<std::uint64_t> next; in < count && (next = adapter.NextHandOver());) {
      bench_.Clock().WaitUntil(*next);
      in = adapter.Poll(bench_.Clock().NowMicros());
    }
    return in;
  }

  bool Read(const Event& event, std::ostream& report) {
    HandOver(event.bytes.size());
    const std::vector<std::uint8_t> model = bench_.Adapter().Read(event.bytes.size(), bench_.Clock().NowMicros());
    for (std::size_t i = 0; i < event.bytes.size(); ++i) {
      const std::uint8_t board = event.bytes[i];
      if (i >= model.size() || pending_.empty()) {
        report << "the board answered more than the model: read on line " << event.line << ", byte " << i + 1
               << ": model none, board " << Byte(board) << "\n";
        return false;
      }
      const std::shared_ptr<Source> source = pending_.front();
      pending_.pop_front();
      const bool same = model[i] == board;
      if (source->scan.flashWord && !source->echo) {
        CountFlashWord(*source, same);
        continue;
      }
      if (!same) {
        report << "answer to write " << source->write << " (line " << source->line << "), read on line "
               << event.line << "\n  "
               << (source->echo ? std::string("the engine's bad-command echo") : source->scan.Describe())
               << "\n  model " << Byte(model[i]) << ", board " << Byte(board) << "\n";
        return false;
      }
      ++compared_;
    }
    return true;
  }

  void CountFlashWord(const Source& source, bool same) {
    if (source.scan.number != flashScan_) {
      flashScan_ = source.scan.number;
      flashScanDiffers_ = false;
      ++flashWords_;
    }
    if (same || flashScanDiffers_) return;
    flashScanDiffers_ = true;
    if (flashDiffering_++ == 0) firstFlash_ = source.scan.Describe();
  }

  Bench bench_;
  std::deque<std::shared_ptr<Source>> pending_;  // answer bytes made and not yet read
  std::shared_ptr<Source> last_;
  std::uint64_t writes_ = 0;
  std::uint64_t compared_ = 0;
  std::uint64_t flashWords_ = 0;
  std::uint64_t flashDiffering_ = 0;
  std::uint64_t flashScan_ = 0;
  bool flashScanDiffers_ = false;
  std::string firstFlash_;
};

}  // namespace

int ReplayTrace(const std::string& file, const BenchConfig& config, const std::string& stateFile) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "qzflash-sim: cannot read trace file " << file << '\n';
    return kReplayUnusable;
  }
  // The whole trace is checked before a single answer is compared.
  std::string bad = Walk(in, [](const Event&) { return true; });
  if (bad.empty() && !in.eof()) bad = "cannot be read";
  if (!bad.empty()) {
    std::cerr << "qzflash-sim: " << file << ": " << bad << '\n';
    return kReplayUnusable;
  }
  BenchConfig model = config;
  model.trace = nullptr;
  model.realtime = false;
  model.adapter = {};
  Replayer replayer(model);
  if (!stateFile.empty()) {
    if (const std::string bad = LoadFlashStateFile(replayer.Model().Controller().Flash(), stateFile); !bad.empty()) {
      std::cerr << "qzflash-sim: " << bad << '\n';
      return kReplayUnusable;
    }
  }
  std::ostringstream divergence;
  in.clear();
  in.seekg(0);
  bool agrees = true;
  Walk(in, [&](const Event& event) { return agrees = replayer.Play(event, divergence); });
  if (!agrees) {
    std::cout << "qzflash-sim: " << file << ": the model differs from the board\n  " << divergence.str();
    const std::string flash = replayer.FlashWords();
    if (!flash.empty()) std::cout << "  before it, " << flash << '\n';
    return kReplayDiffers;
  }
  std::cout << "qzflash-sim: " << file << ": the model agrees with all " << replayer.Agreed() << '\n';
  if (const std::string flash = replayer.FlashWords(); !flash.empty()) std::cout << "  " << flash << '\n';
  return kReplayAgrees;
}

}  // namespace qzsim
