// The Linux program, unchanged, on the virtual FT2232H: through the system's libftdi1, our
// libftdi1 back-end and the libusb stand-in (scripts/virtual-usb), against qzflash-sim.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Console.h"
#include "Image.h"
#include "Run.h"

namespace {

// Operator input. The image is entry 3 of the listing, after "." and "..".
const std::string ProgramThenVerify = "1\n3\n2\n3\n\n";

class VirtualUsbTest : public ::testing::Test {
 protected:
  ScratchFolder files;  // the image alone
  ScratchFolder bench;  // states and traces, kept out of the listing

  std::string InBench(const std::string& name) const { return (bench.path() / name).string(); }

  RunResult Usb(const std::vector<std::string>& options, const std::string& input,
                const std::vector<std::string>& programArgs = {}) const {
    std::vector<std::string> args{"QZSIM_BUILD=" QZSIM_BUILD, VIRTUAL_USB};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--", QZFLASH});
    args.insert(args.end(), programArgs.begin(), programArgs.end());
    return ::Run("/usr/bin/env", args, files.path(), input, 60);
  }
};

// Programming and verifying say what they say on qzflash-sim and leave the flash it leaves. A
// queue poll that finds the answer in takes it: no IN transfer waits out the latency timer for
// nothing, but the one at the port's set-up, when nothing is queued yet.
TEST_F(VirtualUsbTest, ProgramsAndVerifiesAsOnQzflashSimWithoutIdleLatencyPeriods) {
  std::filesystem::copy_file(EXAMPLES "/demo-variant1.s19", files.path() / "image.s19");
  const RunResult usb = Usb({"--state", InBench("usb.txt"), "--trace", InBench("trace.txt")}, ProgramThenVerify);
  const RunResult sim = ::Run(QZFLASH_SIM, {"--state", InBench("sim.txt")}, files.path(), ProgramThenVerify, 60);
  // An FT2232H is two devices to the program, the virtual adapter of qzflash-sim one.
  std::string out = usb.out;
  if (const std::size_t two = out.find("\n 2 QZ devices found - "); two != std::string::npos) out[two + 2] = '1';
  EXPECT_EQ(out, sim.out);
  EXPECT_EQ(usb.err, console::CleanRun);
  EXPECT_EQ(usb.status, 0);
  EXPECT_EQ(bench.Read("usb.txt"), bench.Read("sim.txt"));
  EXPECT_NE(bench.Read("sim.txt").find("\nP 00000: "), std::string::npos) << "programmed nothing";
  // A run of IN transfers that brought the status bytes alone is one line with its count.
  const std::vector<std::string> reads = TraceLines(bench.Read("trace.txt"), "read ");
  EXPECT_GT(reads.size(), 100u);
  long empty = 0;
  for (const std::string& read : reads) {
    if (read == "3260") ++empty;
    if (read.starts_with("3260 times ")) empty += std::stol(read.substr(11));
  }
  EXPECT_EQ(empty, 1);
}

// The listing reads the chip's USB strings; the back-end adds the interface letters as the
// driver does.
TEST_F(VirtualUsbTest, DevicesAreListedFromTheChipsStrings) {
  const RunResult run = Usb({}, "", {"devices"});
  EXPECT_EQ(run.out, "0  FT2232H  A  QZSIM001A  Dual RS232-HS A\n1  FT2232H  B  QZSIM001B  Dual RS232-HS B\n");
  EXPECT_EQ(run.status, 0);
}

// An FT2232H that is not the user's, that another program holds, or that went away between
// listing and opening: the program finds no adapter it can use, and nothing reaches the chip.
// A command says why in libusb's words.
TEST_F(VirtualUsbTest, AnAdapterThatCannotBeOpenedRunsNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"access", "qzflash: no permission to open the adapter: libusb_open() failed (LIBUSB_ERROR_ACCESS); a udev "
                 "rule grants it (README, \"Access rights (udev)\")\n"},
      {"busy", "qzflash: adapter 0 is in use\n"},
      {"no-device", "qzflash: adapter 0 cannot be opened: libusb_open() failed (LIBUSB_ERROR_NO_DEVICE)\n"},
  };
  for (const auto& [kind, said] : cases) {
    const RunResult run = Usb({"--usb-error", kind, "--trace", InBench("trace.txt")}, "", {"erase"});
    EXPECT_EQ(run.status, 3) << kind;
    EXPECT_EQ(run.err, said);
    EXPECT_EQ(bench.Read("trace.txt"), "") << kind;
  }
}

}  // namespace
