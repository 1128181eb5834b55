#include "VirtualAdapter.h"

#include <algorithm>

namespace qzsim {

namespace {

constexpr Ticks kTicksPerMilli = 1000 * kTicksPerMicro;

Ticks TicksAt(std::uint64_t micros) { return micros * kTicksPerMicro; }

}  // namespace

VirtualAdapter::VirtualAdapter(JtagPins& connector, Warnings& warnings, const AdapterFaults& faults)
    : faults_(faults), mpsse_(connector, warnings) {}

void VirtualAdapter::Write(std::span<const std::uint8_t> bytes, std::uint64_t now) {
  if (mpsseMode_) {
    output_.Clear();
    mpsse_.Run(bytes, TicksAt(now), output_);
    answerBytes_ += output_.bytes.size();
    const std::size_t before = buffer_.size();
    buffer_.insert(buffer_.end(), output_.bytes.begin(), output_.bytes.end());
    bufferTimes_.insert(bufferTimes_.end(), output_.times.begin(), output_.times.end());
    for (const auto& send : output_.sendImmediates) {
      if (before + send.before > 0) sendImmediates_.push_back({before + send.before, send.at});
    }
  }
  ++writes_;
  if (faults_.unplugAfterWrites && writes_ >= *faults_.unplugAfterWrites) {
    unplugged_ = true;
    Purge();
    Release(now);
  }
}

// The earliest of: the latency timer running out, counted from when the buffer last went from
// empty to holding data; a packet's worth of data; a send-immediate with data before it.
std::optional<VirtualAdapter::HandOver> VirtualAdapter::Next() const {
  if (buffer_.empty()) return std::nullopt;
  const Ticks latencyEnd = std::max(bufferTimes_.front(), lastHandOver_) + latencyMs_ * kTicksPerMilli;
  const auto waiting = std::upper_bound(bufferTimes_.begin(), bufferTimes_.end(), latencyEnd);
  HandOver next{latencyEnd, std::min<std::size_t>(static_cast<std::size_t>(waiting - bufferTimes_.begin()),
                                                  kPacketAnswerBytes)};
  if (buffer_.size() >= kPacketAnswerBytes) {
    const Ticks full = std::max(bufferTimes_[kPacketAnswerBytes - 1], lastHandOver_);
    if (full <= next.at) next = {full, kPacketAnswerBytes};
  }
  if (!sendImmediates_.empty()) {
    const Ticks sent = std::max(sendImmediates_.front().at, lastHandOver_);
    if (sent < next.at) next = {sent, std::min(sendImmediates_.front().before, kPacketAnswerBytes)};
  }
  return next;
}

void VirtualAdapter::HandOverUntil(std::uint64_t now) {
  auto& queue = faults_.lateReplyBytes == 0 ? received_ : inFlight_;
  for (auto next = Next(); next && next->at <= TicksAt(now); next = Next()) {
    const auto count = static_cast<std::ptrdiff_t>(next->count);
    queue.insert(queue.end(), buffer_.begin(), buffer_.begin() + count);
    buffer_.erase(buffer_.begin(), buffer_.begin() + count);
    bufferTimes_.erase(bufferTimes_.begin(), bufferTimes_.begin() + count);
    lastHandOver_ = next->at;
    for (auto& send : sendImmediates_) send.before -= std::min(send.before, next->count);
    while (!sendImmediates_.empty() && sendImmediates_.front().before == 0) sendImmediates_.pop_front();
  }
}

std::optional<std::uint64_t> VirtualAdapter::NextHandOver() const {
  const auto next = Next();
  if (!next) return std::nullopt;
  return (next->at + kTicksPerMicro - 1) / kTicksPerMicro;
}

std::size_t VirtualAdapter::Poll(std::uint64_t now) {
  HandOverUntil(now);
  const std::size_t arriving = std::min<std::size_t>(faults_.lateReplyBytes, inFlight_.size());
  received_.insert(received_.end(), inFlight_.begin(),
                   inFlight_.begin() + static_cast<std::ptrdiff_t>(arriving));
  inFlight_.erase(inFlight_.begin(), inFlight_.begin() + static_cast<std::ptrdiff_t>(arriving));
  return received_.size();
}

std::vector<std::uint8_t> VirtualAdapter::Read(std::size_t count, std::uint64_t now) {
  HandOverUntil(now);
  const std::size_t taken = std::min(count, received_.size());
  std::vector<std::uint8_t> bytes(received_.begin(),
                                  received_.begin() + static_cast<std::ptrdiff_t>(taken));
  received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(taken));
  return bytes;
}

void VirtualAdapter::Purge() {
  buffer_.clear();
  bufferTimes_.clear();
  sendImmediates_.clear();
  received_.clear();
  inFlight_.clear();
}

bool VirtualAdapter::SetBitMode(std::uint8_t mode, std::uint64_t now) {
  if (mode == kModeMpsse) {
    mpsseMode_ = true;
    mpsse_.Enter(TicksAt(now));
    return true;
  }
  if (mode == kModeReset) {
    Release(now);
    return true;
  }
  return false;
}

void VirtualAdapter::Release(std::uint64_t now) {
  if (mpsseMode_) mpsse_.Leave(TicksAt(now));
  mpsseMode_ = false;
}

}  // namespace qzsim
