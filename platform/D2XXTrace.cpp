#include "D2XXTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

class Recorder {
 public:
  ~Recorder() { Close(); }

  std::string Open(const std::string& file) {
    Close();
    failure_.clear();
    // Binary, so that every build ends its lines alike.
    out_ = std::fopen(file.c_str(), "wb");
    return out_ ? std::string() : std::strerror(errno);
  }

  bool On() const { return out_ != nullptr; }

  std::string Close() {
    if (!out_) return failure_;
    WriteHeld();
    WriteOmitted();
    if (std::fclose(out_) != 0 && failure_.empty()) failure_ = std::strerror(errno);
    out_ = nullptr;
    return failure_;
  }

  void Line(const std::string& line, bool moved) {
    if (!moved && held_ > 0 && line == heldLine_) {
      ++held_;
      return;
    }
    WriteHeld();
    if (moved) {
      WriteOmitted();
      quietLines_ = 0;
      Put(line);
    } else if (quietLines_ < TraceQuietLines) {
      heldLine_ = line;
      held_ = 1;
    } else {
      ++omitted_;
    }
  }

 private:
  void Put(const std::string& line) {
    if ((std::fputs(line.c_str(), out_) < 0 || std::fputc('\n', out_) == EOF) && failure_.empty())
      failure_ = std::strerror(errno);
  }

  // An empty read's line ends in its blank already.
  void WriteHeld() {
    if (held_ == 0) return;
    if (held_ > 1) heldLine_ += (heldLine_.ends_with(' ') ? "times " : " times ") + std::to_string(held_);
    Put(heldLine_);
    held_ = 0;
    ++quietLines_;
  }

  void WriteOmitted() {
    if (omitted_ > 0) Put("omitted " + std::to_string(omitted_));
    omitted_ = 0;
  }

  std::FILE* out_ = nullptr;
  std::string failure_;
  std::string heldLine_;
  std::uint64_t held_ = 0;
  unsigned quietLines_ = 0;
  std::uint64_t omitted_ = 0;
};

// Closed, with what it held back, when the program exits.
Recorder recorder;

std::string Hex(const void* bytes, DWORD count) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  const auto* byte = static_cast<const std::uint8_t*>(bytes);
  std::string text;
  if (byte == nullptr) return text;
  for (DWORD i = 0; i < count; ++i) {
    text += Digits[byte[i] >> 4];
    text += Digits[byte[i] & 0x0F];
  }
  return text;
}

std::string WithStatus(std::string line, FT_STATUS status) { return line + " status " + std::to_string(status); }

}  // namespace

std::string StartD2XXTrace(const std::string& file) { return recorder.Open(file); }

std::string EndD2XXTrace() { return recorder.Close(); }

void TraceD2XXCall(const char* name, std::initializer_list<long long> arguments, FT_STATUS status) {
  if (!recorder.On()) return;
  std::string line = name;
  for (long long argument : arguments) line += ' ' + std::to_string(argument);
  recorder.Line(WithStatus(line, status), false);
}

void TraceQueueStatus(DWORD rxBytes, FT_STATUS status) {
  if (!recorder.On()) return;
  const std::string count = status == FT_OK ? std::to_string(rxBytes) : "-";
  recorder.Line(WithStatus("FT_GetQueueStatus " + count, status), false);
}

void TraceD2XXData(const char* kind, const void* bytes, DWORD count, FT_STATUS status) {
  if (!recorder.On()) return;
  const std::string hex = Hex(bytes, count);
  std::string line = std::string(kind) + ' ' + hex;
  if (status != FT_OK) line += (hex.empty() ? "status " : " status ") + std::to_string(status);
  recorder.Line(line, count > 0);
}

void TraceSleep(std::uint32_t ms) {
  if (recorder.On()) recorder.Line("sleep " + std::to_string(ms), false);
}
