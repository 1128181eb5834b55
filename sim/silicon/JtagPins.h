// What the adapter's JTAG connector is wired to.
#pragma once

#include <cstdint>

namespace qzsim {

class JtagPins {
 public:
  virtual ~JtagPins() = default;
  // Reset line level: low holds the target in reset.
  virtual void SetResetLine(bool high) = 0;
  // Rising TCK edge: the target samples TMS and TDI.
  virtual void ClockRise(bool tms, bool tdi) = 0;
  // Falling TCK edge: the target updates TDO.
  virtual void ClockFall() = 0;
  virtual bool Tdo() const = 0;
  // The time on the virtual clock, in microseconds, of what the pins do next: what the target
  // does on its own (a flash command running) catches up to it.
  virtual void AdvanceTo(std::uint64_t) {}
};

// An empty connector: TDO sits at one level whatever is clocked.
class StuckTdo : public JtagPins {
 public:
  explicit StuckTdo(bool level) : level_(level) {}
  void SetResetLine(bool) override {}
  void ClockRise(bool, bool) override {}
  void ClockFall() override {}
  bool Tdo() const override { return level_; }

 private:
  bool level_;
};

}  // namespace qzsim
