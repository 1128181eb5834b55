// S-Record files written from word images of the flash, independently of the program's reader,
// and the state files of qzflash-sim that such images leave: S0 header, S3 records (word
// address, little-endian words), S7, with switches that break a file in chosen ways.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Address byte a0 of an S3 record: the memory space.
inline constexpr std::uint8_t SpaceP = 0;
inline constexpr std::uint8_t SpaceX = 2;

struct Location {
  std::uint8_t space;
  std::uint32_t address;  // word address
  auto operator<=>(const Location&) const = default;
};

// The words a file puts into the target.
using Image = std::map<Location, std::uint16_t>;

struct Record {
  std::uint8_t space;  // a0; any byte, so that a test can write one the program rejects
  std::uint32_t address;
  std::vector<std::uint16_t> words;
};

struct Layout {
  // The S0 data bytes after its address: two lead bytes and the text. Empty: no S0 line.
  std::string header{"\0\0PROGRAM&DATA", 14};
  int wrongChecksumLine = 0;  // line number, from 1, whose checksum byte is one too high; 0 none
  bool crlf = false;
  bool endRecord = true;  // the S7 line
};

// Type digit, then byte count, bytes and checksum as upper-case hex pairs.
std::string Line(char type, const std::vector<std::uint8_t>& bytes, bool wrongChecksum, const char* end);
std::vector<std::uint8_t> S3Bytes(const Record& record);
// One's complement of the low byte of the sum of the byte count, address and data bytes.
std::uint8_t Checksum(const Record& record);

// Runs of consecutive words, cut into records of at most maxWords words. A record never spans
// two 64K-word pages: a1 chooses program or boot flash.
std::vector<Record> Records(const Image& image, std::size_t maxWords = 16);
std::string Write(const std::vector<Record>& records, const Layout& layout = {});
std::string Write(const Image& image, const Layout& layout = {});

struct Region {
  std::uint8_t space;
  std::uint32_t first, last;
};

// Program flash, boot flash and data flash of a variant (1 or 2).
std::array<Region, 3> FlashRegions(int variant);

// runs runs of 1 to maxRun random words at random places in each flash region of the variant.
Image RandomImage(int variant, std::uint32_t seed, int runs, int maxRun);

// count words from first on, in a fixed pattern that differs from word to word.
std::vector<std::uint16_t> Words(int count, std::uint16_t first);

// The first `count` words of records, in file order.
Image ImageOf(const std::vector<Record>& records, std::size_t count = SIZE_MAX);

// value in upper-case hexadecimal, at least digits wide.
std::string Hex(unsigned value, int digits = 0);
// The letter of the state file and of --bad-word.
std::string SpaceLetter(std::uint8_t space);

// The rows of the state file (after its comment line) that a full erase followed by
// programming image leaves: rows of eight words holding a programmed one.
std::string StateOf(const Image& image);
// The rows of a state file as qzflash-sim saves it: without its comment line.
std::string RowsOf(const std::string& stateFile);

// The lines of a qzflash-sim trace that start with prefix, without it.
std::vector<std::string> TraceLines(const std::string& trace, const std::string& prefix = "");
