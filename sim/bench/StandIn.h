// The virtual bench inside an unchanged program, for the stand-ins of the adapter's driver
// stack: the libusb-1.0 library under libftdi1 on Linux, FTD2XX.dll on Windows. The program
// takes no options for it; they come from the environment variable QZSIM_OPTIONS, in
// qzflash-sim's syntax, split at blanks.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "SimOptions.h"

namespace qzsim {

class Bench;

struct StandInKind {
  const char* name;    // leads every line it writes on standard error
  bool deviceCount;    // --devices applies
  bool realClockOnly;  // the program's own sleeps are real, so the target runs on the real clock
  bool usbErrors;      // --usb-error applies
};

class StandIn {
 public:
  // Reads QZSIM_OPTIONS, checks that the state can be saved, loads it and opens the trace. What
  // is wrong is said in one line on standard error, and the bench then has no device.
  explicit StandIn(const StandInKind& kind);
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  Bench& TheBench() { return *bench_; }
  bool VirtualTime() const { return !realtime_; }
  UsbError OpenFailure() const { return usbError_; }
  // The program called into the library, so its run is the one whose end counts.
  void MarkUsed() { used_ = true; }
  // At the end of a run that used the library: the target finishes its commands and the state
  // file is saved, the trace closed, and the warnings and stats lines written, as qzflash-sim
  // does at exit. Once. False when the state was not saved: the run must not end as a success.
  bool Finish();

 private:
  std::string Configure(const StandInKind& kind);

  const char* const name_;
  std::ofstream trace_;
  std::unique_ptr<Bench> bench_;
  std::string stateFile_;
  bool realtime_ = false;
  UsbError usbError_ = UsbError::None;
  bool stats_ = false;
  bool usable_ = false;
  bool used_ = false;
  bool finished_ = false;
};

}  // namespace qzsim
