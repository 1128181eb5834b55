// A scriptable stand-in for the adapter and the time source, for the unit tests.
//
// It records every D2XX call and sleep in order and returns scripted statuses. Each FT_Write
// is answered with a scripted reply that reaches the receive queue in scripted pieces, one
// piece per FT_GetQueueStatus poll; a write with no script gets an answer of zeros as long as
// its MPSSE read commands ask for. Its clock moves only with sleeps and polls (1 ms a poll).
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
  std::map<std::string, FT_STATUS> statuses;  // scripted status per operation; FT_OK otherwise
  DWORD writeLimit = 0xFFFFFFFF;              // FT_Write takes at most this many bytes
  struct Reply {
    std::deque<Bytes> pieces;
    bool padded;  // the pieces are the tail of an answer of the full length
  };
  std::deque<Reply> replies;  // per FT_Write
  std::deque<Bytes> arriving; // pieces not yet in the receive queue
  Bytes rx;                   // the receive queue
  std::vector<Call> calls;
  std::uint64_t clockMs = 0;
};

extern Adapter adapter;

// A fresh adapter: every call FT_OK, nothing queued, nothing recorded.
void Reset();

// The next FT_Write is answered with these bytes, in the given pieces.
void ReplyInPieces(const std::vector<Bytes>& pieces);
// The next FT_Write is answered in full, ending with these bytes.
void ReplyTail(const Bytes& tail);

// Bytes already waiting in the receive queue.
void Preload(const Bytes& bytes);

std::vector<Bytes> Writes();

}  // namespace fake
