// qzflash-sim: the program proper on the virtual bench, with options of its own.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "Bench.h"
#include "FlashState.h"
#include "QZFlash.h"
#include "Replay.h"
#include "SimOptions.h"

namespace {

constexpr int kBadUsage = 2;
// The program's own status when it finds no adapter: a state that cannot be saved runs nothing.
constexpr int kNoAdapter = static_cast<int>(Outcome::LinkLost);
constexpr int kStateLost = 1;

// What the exit handler needs; the program proper ends through exit().
std::string stateFile;
std::ofstream trace;
bool stats = false;
int programStatus = 0;

bool SaveState() {
  if (stateFile.empty()) return true;
  const std::string error =
      qzsim::SaveFlashStateFile(qzsim::CurrentBench().Controller().Flash(), stateFile);
  if (!error.empty()) std::cerr << "qzflash-sim: " << error << '\n';
  return error.empty();
}

void AtExit() {
  // The dialogue's last lines come before the summary on a shared terminal.
  std::fflush(stdout);
  const bool saved = SaveState();
  qzsim::CurrentBench().EndTrace();
  if (trace.is_open()) trace.close();
  const std::string summary = qzsim::CurrentBench().ProtocolWarnings().Summary();
  if (!summary.empty()) std::cerr << "qzflash-sim: " << summary << '\n';
  if (stats) std::cerr << "qzflash-sim: " << qzsim::CurrentBench().StatsSummary() << '\n';
  // exit() has its status already; only ending here can change it.
  if (!saved && programStatus == 0) {
    std::fflush(nullptr);
    std::_Exit(kStateLost);
  }
}

int Fail(const std::string& message, int status = kBadUsage) {
  std::cerr << "qzflash-sim: " << message << '\n';
  return status;
}

}  // namespace

// The link wraps exit(), so that the exit handler learns the status the program ends with.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) {
  programStatus = status;
  __real_exit(status);
}

int main(int argc, char** argv) {
  qzsim::SimOptions options;
  const std::string error =
      qzsim::ParseSimOptions(std::span<const char* const>(argv + 1, argc - 1), options);
  if (!error.empty()) return Fail(error + "\nTry 'qzflash-sim --help'.");
  if (options.help) {
    std::cerr << qzsim::SimUsage();
    return 0;
  }
  if (options.usbError != qzsim::UsbError::None) {
    return Fail("--usb-error applies only to the libusb stand-in\nTry 'qzflash-sim --help'.");
  }
  if (!options.replayFile.empty()) return qzsim::ReplayTrace(options.replayFile, options.bench, options.stateFile);
  if (!options.stateFile.empty()) {
    const std::string unusable = qzsim::CheckFlashStateFile(options.stateFile);
    if (!unusable.empty()) return Fail(unusable, kNoAdapter);
  }
  if (!options.traceFile.empty()) {
    trace.open(options.traceFile, std::ios::trunc);
    if (!trace) return Fail("cannot open trace file " + options.traceFile);
    options.bench.trace = &trace;
  }
  qzsim::ConfigureBench(options.bench);
  stateFile = options.stateFile;
  stats = options.stats;
  if (!stateFile.empty()) {
    const std::string bad =
        qzsim::LoadFlashStateFile(qzsim::CurrentBench().Controller().Flash(), stateFile);
    if (!bad.empty()) return Fail(bad);
  }
  std::atexit(AtExit);
  QZFlashMain(options.programArgs);
}
