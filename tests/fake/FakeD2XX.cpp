#include "FakeD2XX.h"

#include <algorithm>
#include <cstring>

#include "Platform.h"

namespace fake {

Adapter adapter;

void Reset() { adapter = Adapter{}; }

void Reply(const Bytes& bytes) { adapter.replies.push_back({{bytes}, false}); }

void ReplyInPieces(const std::vector<Bytes>& pieces) {
  adapter.replies.push_back({std::deque<Bytes>(pieces.begin(), pieces.end()), false});
}

void ReplyTail(const Bytes& tail) { adapter.replies.push_back({{tail}, true}); }

std::size_t AnswerLength(const Bytes& commands) {
  std::size_t answer = 0;
  for (std::size_t i = 0; i < commands.size();) {
    switch (commands[i]) {
      case 0x2A: case 0x2E:  // bits in
        answer += 1;
        i += 2;
        break;
      case 0x3B: case 0x3E: case 0x6B:  // bits or TMS out, with read
        answer += 1;
        i += 3;
        break;
      case 0x1A: case 0x1B: case 0x4A: case 0x4B: case 0x80: case 0x82: case 0x86:
        i += 3;
        break;
      case 0x8E:
        i += 2;
        break;
      case 0x85: case 0x8A: case 0x8D: case 0x97:
        i += 1;
        break;
      default:  // an unknown opcode is echoed as 0xFA and the opcode
        answer += 2;
        i += 1;
        break;
    }
  }
  return answer;
}

void Preload(const Bytes& bytes) { adapter.rx.insert(adapter.rx.end(), bytes.begin(), bytes.end()); }

std::vector<Bytes> Writes() {
  std::vector<Bytes> writes;
  for (const Call& call : adapter.calls)
    if (call.name == "FT_Write") writes.push_back(call.bytes);
  return writes;
}

std::vector<std::uint32_t> Sleeps() {
  std::vector<std::uint32_t> sleeps;
  for (const Call& call : adapter.calls)
    if (call.name == "Sleep") sleeps.push_back(call.args.at(0));
  return sleeps;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const Call& call : adapter.calls) names.push_back(call.name);
  return names;
}

namespace {

FT_STATUS Record(const char* name, std::vector<std::uint32_t> args, Bytes bytes = {}) {
  adapter.calls.push_back({name, std::move(args), std::move(bytes)});
  auto scripted = adapter.statuses.find(name);
  return scripted == adapter.statuses.end() ? FT_OK : scripted->second;
}

}  // namespace
}  // namespace fake

using fake::adapter;

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  FT_STATUS status = fake::Record("FT_CreateDeviceInfoList", {});
  *numDevs = adapter.deviceCount;
  return status;
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD*, DWORD*, DWORD*, DWORD*, void*, void*, FT_HANDLE*) {
  return fake::Record("FT_GetDeviceInfoDetail", {index});
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
  FT_STATUS status = fake::Record("FT_Open", {static_cast<std::uint32_t>(deviceNumber)});
  if (status == FT_OK) *handle = &adapter;
  return status;
}

FT_STATUS FT_ResetDevice(FT_HANDLE) { return fake::Record("FT_ResetDevice", {}); }

FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD* rxBytes) {
  FT_STATUS status = fake::Record("FT_GetQueueStatus", {});
  ++adapter.clockMs;
  if (!adapter.arriving.empty()) {
    fake::Bytes& piece = adapter.arriving.front();
    adapter.rx.insert(adapter.rx.end(), piece.begin(), piece.end());
    adapter.arriving.pop_front();
  }
  *rxBytes = static_cast<DWORD>(adapter.rx.size());
  return status;
}

FT_STATUS FT_Read(FT_HANDLE, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
  DWORD count = std::min<DWORD>(bytesToRead, static_cast<DWORD>(adapter.rx.size()));
  fake::Bytes taken(adapter.rx.begin(), adapter.rx.begin() + count);
  FT_STATUS status = fake::Record("FT_Read", {bytesToRead}, taken);
  if (status != FT_OK) count = 0;
  std::memcpy(buffer, taken.data(), count);
  adapter.rx.erase(adapter.rx.begin(), adapter.rx.begin() + count);
  *bytesReturned = count;
  return status;
}

FT_STATUS FT_Write(FT_HANDLE, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  FT_STATUS status = fake::Record("FT_Write", {bytesToWrite}, fake::Bytes(bytes, bytes + bytesToWrite));
  *bytesWritten = status == FT_OK ? bytesToWrite : 0;
  if (status != FT_OK) return status;
  const std::size_t length = fake::AnswerLength(fake::Bytes(bytes, bytes + bytesToWrite));
  if (adapter.replies.empty()) {
    if (length > 0) adapter.arriving.push_back(fake::Bytes(length, 0x00));
    return status;
  }
  fake::Adapter::Reply& reply = adapter.replies.front();
  if (reply.padded) {
    fake::Bytes& tail = reply.pieces.front();
    if (length > tail.size()) tail.insert(tail.begin(), length - tail.size(), 0x00);
  }
  for (fake::Bytes& piece : reply.pieces) adapter.arriving.push_back(piece);
  adapter.replies.pop_front();
  return status;
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD inTransferSize, DWORD outTransferSize) {
  return fake::Record("FT_SetUSBParameters", {inTransferSize, outTransferSize});
}

FT_STATUS FT_SetChars(FT_HANDLE, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled) {
  return fake::Record("FT_SetChars", {eventChar, eventCharEnabled, errorChar, errorCharEnabled});
}

FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD readTimeout, DWORD writeTimeout) {
  return fake::Record("FT_SetTimeouts", {readTimeout, writeTimeout});
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR latencyMs) {
  return fake::Record("FT_SetLatencyTimer", {latencyMs});
}

FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR pinMask, UCHAR mode) {
  return fake::Record("FT_SetBitMode", {pinMask, mode});
}

FT_STATUS FT_Close(FT_HANDLE) { return fake::Record("FT_Close", {}); }

void SleepMs(std::uint32_t ms) {
  fake::Record("Sleep", {ms});
  adapter.clockMs += ms;
}

std::uint64_t MonotonicMs() { return adapter.clockMs; }
