#include "VirtualAdapter.h"

#include <algorithm>

namespace qzsim {

VirtualAdapter::VirtualAdapter(JtagPins& connector, Warnings& warnings, const AdapterFaults& faults)
    : faults_(faults), mpsse_(connector, warnings) {}

void VirtualAdapter::Write(std::span<const std::uint8_t> bytes) {
  if (mpsseMode_) {
    reply_.clear();
    mpsse_.Run(bytes, reply_);
    auto& queue = faults_.lateReplyBytes == 0 ? received_ : inFlight_;
    queue.insert(queue.end(), reply_.begin(), reply_.end());
  }
  ++writes_;
  if (faults_.unplugAfterWrites && writes_ >= *faults_.unplugAfterWrites) {
    unplugged_ = true;
    Purge();
    Release();
  }
}

std::size_t VirtualAdapter::Poll() {
  const std::size_t arriving = std::min<std::size_t>(faults_.lateReplyBytes, inFlight_.size());
  received_.insert(received_.end(), inFlight_.begin(),
                   inFlight_.begin() + static_cast<std::ptrdiff_t>(arriving));
  inFlight_.erase(inFlight_.begin(), inFlight_.begin() + static_cast<std::ptrdiff_t>(arriving));
  return received_.size();
}

std::vector<std::uint8_t> VirtualAdapter::Read(std::size_t count) {
  const std::size_t taken = std::min(count, received_.size());
  std::vector<std::uint8_t> bytes(received_.begin(),
                                  received_.begin() + static_cast<std::ptrdiff_t>(taken));
  received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(taken));
  return bytes;
}

void VirtualAdapter::Purge() {
  received_.clear();
  inFlight_.clear();
}

bool VirtualAdapter::SetBitMode(std::uint8_t mode) {
  if (mode == kModeMpsse) {
    mpsseMode_ = true;
    mpsse_.Enter();
    return true;
  }
  if (mode == kModeReset) {
    Release();
    return true;
  }
  return false;
}

void VirtualAdapter::Release() {
  if (mpsseMode_) mpsse_.Leave();
  mpsseMode_ = false;
}

}  // namespace qzsim
