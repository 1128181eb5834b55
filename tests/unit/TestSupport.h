// Helpers shared by the unit tests of the host layers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "FakeD2XX.h"

// "4B 02 81" -> {0x4B, 0x02, 0x81}.
fake::Bytes Hex(std::string_view text);

// A fresh fake adapter, an open handle, and the program's state as it starts: every
// process-wide variable the tests touch is reset here and nowhere else.
void ResetHost();

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHost(); }
};

// The 16-bit words that the OPDBR data scans in these bytes hand to the core, decoded from the
// MPSSE bytes the way the target sees them: each EOnCE command scan 3B 06 cc 6B 00 xx that
// selects OPDBR (0x04 or 0x44) is followed by a 16-bit data scan
// 4B 02 81, 3B 07 lo, 3B 06 hi, 6B 00 xx, 4B 01 01 whose last bit rides on the exit clock.
std::vector<std::uint16_t> InjectedWords(const fake::Bytes& bytes);

// What the layers print for the user, from CaptureStdout to TakeStdout.
void CaptureStdout();
std::string TakeStdout();
