#include "FakeD2XX.h"

#include <algorithm>
#include <cstring>

#include "Platform.h"

namespace fake {

Adapter adapter;

void Reset() { adapter = Adapter{}; }

void ReplyInPieces(const std::vector<Bytes>& pieces) {
  adapter.replies.push_back({std::deque<Bytes>(pieces.begin(), pieces.end()), false});
}

void ReplyTail(const Bytes& tail) { adapter.replies.push_back({{tail}, true}); }

void Preload(const Bytes& bytes) { adapter.rx.insert(adapter.rx.end(), bytes.begin(), bytes.end()); }

std::vector<Bytes> Writes() {
  std::vector<Bytes> writes;
  for (const Call& call : adapter.calls)
    if (call.name == "FT_Write") writes.push_back(call.bytes);
  return writes;
}

namespace {

// Reply bytes these MPSSE commands make the engine queue: one per read command (bits in, bits
// or TMS out with read), two for the echo of an unknown opcode.
std::size_t AnswerLength(const Bytes& commands) {
  std::size_t answer = 0;
  for (std::size_t i = 0; i < commands.size();) {
    const std::uint8_t op = commands[i];
    if (op == 0x2A || op == 0x2E) {
      answer += 1, i += 2;
    } else if (op == 0x3B || op == 0x3E || op == 0x6B) {
      answer += 1, i += 3;
    } else if (op == 0x1A || op == 0x1B || op == 0x4A || op == 0x4B || op == 0x80 || op == 0x82 || op == 0x86) {
      i += 3;
    } else if (op == 0x8E) {
      i += 2;
    } else if (op == 0x85 || op == 0x87 || op == 0x8A || op == 0x8D || op == 0x97) {
      i += 1;
    } else {
      answer += 2, i += 1;
    }
  }
  return answer;
}

FT_STATUS Record(const char* name, std::vector<std::uint32_t> args = {}, Bytes bytes = {}) {
  adapter.calls.push_back({name, std::move(args), std::move(bytes)});
  auto scripted = adapter.statuses.find(name);
  return scripted == adapter.statuses.end() ? FT_OK : scripted->second;
}

}  // namespace
}  // namespace fake

using fake::adapter;
using fake::Record;

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  *numDevs = 1;
  return Record("FT_CreateDeviceInfoList");
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD, DWORD*, DWORD*, DWORD*, DWORD*, void*, void*, FT_HANDLE*) {
  return Record("FT_GetDeviceInfoDetail");
}

FT_STATUS FT_Open(int, FT_HANDLE* handle) {
  *handle = &adapter;
  return Record("FT_Open");
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD* rxBytes) {
  ++adapter.clockMs;
  if (!adapter.arriving.empty()) {
    fake::Preload(adapter.arriving.front());
    adapter.arriving.pop_front();
  }
  *rxBytes = static_cast<DWORD>(adapter.rx.size());
  return Record("FT_GetQueueStatus");
}

FT_STATUS FT_Read(FT_HANDLE, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
  DWORD count = std::min<DWORD>(bytesToRead, static_cast<DWORD>(adapter.rx.size()));
  const FT_STATUS status = Record("FT_Read", {bytesToRead}, fake::Bytes(adapter.rx.begin(), adapter.rx.begin() + count));
  if (status != FT_OK) count = 0;
  std::memcpy(buffer, adapter.rx.data(), count);
  adapter.rx.erase(adapter.rx.begin(), adapter.rx.begin() + count);
  *bytesReturned = count;
  return status;
}

FT_STATUS FT_Write(FT_HANDLE, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  const fake::Bytes sent(bytes, bytes + bytesToWrite);
  const FT_STATUS status = Record("FT_Write", {bytesToWrite}, sent);
  *bytesWritten = status == FT_OK ? std::min(bytesToWrite, adapter.writeLimit) : 0;
  if (status != FT_OK) return status;
  const std::size_t length = fake::AnswerLength(sent);
  fake::Adapter::Reply reply{{fake::Bytes(length, 0x00)}, false};
  if (!adapter.replies.empty()) {
    reply = adapter.replies.front();
    adapter.replies.pop_front();
  }
  fake::Bytes& tail = reply.pieces.front();
  if (reply.padded && length > tail.size()) tail.insert(tail.begin(), length - tail.size(), 0x00);
  for (const fake::Bytes& piece : reply.pieces)
    if (!piece.empty() || length > 0) adapter.arriving.push_back(piece);
  return status;
}

FT_STATUS FT_ResetDevice(FT_HANDLE) { return Record("FT_ResetDevice"); }
FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD, DWORD) { return Record("FT_SetUSBParameters"); }
FT_STATUS FT_SetChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) { return Record("FT_SetChars"); }
FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD, DWORD) { return Record("FT_SetTimeouts"); }
FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR) { return Record("FT_SetLatencyTimer"); }
FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR) { return Record("FT_SetBitMode"); }
FT_STATUS FT_Close(FT_HANDLE) { return Record("FT_Close"); }
DriverError LastDriverError() { return {}; }

void SleepMs(std::uint32_t ms) {
  Record("Sleep", {ms});
  adapter.clockMs += ms;
}

std::uint64_t MonotonicMs() { return adapter.clockMs; }
