// A scriptable stand-in for the adapter and the time source, for the unit tests.
//
// It records every D2XX call and sleep in order, returns scripted statuses, and answers each
// FT_Write with a scripted reply that reaches the receive queue in scripted pieces, one piece
// per FT_GetQueueStatus poll. Its clock moves only with sleeps and polls (1 ms a poll).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "D2XX.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

struct Call {
  std::string name;
  std::vector<std::uint32_t> args;
  Bytes bytes;  // what FT_Write sent or FT_Read returned
};

struct Adapter {
  DWORD deviceCount = 1;
  std::map<std::string, FT_STATUS> statuses;  // scripted status per operation; FT_OK otherwise
  std::deque<std::deque<Bytes>> replies;      // per FT_Write: its answer, in pieces
  std::deque<Bytes> arriving;                 // pieces not yet in the receive queue
  Bytes rx;                                   // the receive queue
  std::vector<Call> calls;
  std::uint64_t clockMs = 0;
};

extern Adapter adapter;

// A fresh adapter: one device, every call FT_OK, nothing queued, nothing recorded.
void Reset();

// The next FT_Write is answered with these bytes, arriving in one piece or in the given pieces.
void Reply(const Bytes& bytes);
void ReplyInPieces(const std::vector<Bytes>& pieces);

// Bytes already waiting in the receive queue.
void Preload(const Bytes& bytes);

std::vector<Bytes> Writes();
std::vector<std::uint32_t> Sleeps();
std::vector<std::string> CallNames();

}  // namespace fake
