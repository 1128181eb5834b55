// S-Record files for the end-to-end tests, written from word images of the target's flash,
// independently of the program's reader: S0 header, S3 records (word address, little-endian
// words), S7, with switches that break a file in chosen ways.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace srec {

// Address byte a0 of an S3 record: the memory space.
constexpr std::uint8_t SpaceP = 0;
constexpr std::uint8_t SpaceX = 2;

constexpr std::uint16_t Erased = 0xFFFF;

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

// Runs of consecutive words, cut into records of at most maxWords. A record never spans two
// 64K-word pages: a1 chooses program or boot flash, so a run from 0x1FFFF into 0x20000 becomes
// two records.
std::vector<Record> Records(const Image& image, std::size_t maxWords = 16);

// The record's checksum byte: one's complement of the low byte of the sum of the byte count,
// the address bytes and the data bytes.
std::uint8_t Checksum(const Record& record);

enum class Header {
  ProgramAndData,  // "PROGRAM&DATA"
  ProgramOnly,     // "PROGRA", a zero byte, "M"
  DataOnly,        // "DATA"
  Rejected,        // "PROGRAM DATA": a right checksum, a text the program does not know
  None,            // no S0 line at all
};

struct Layout {
  Header header = Header::ProgramAndData;
  std::array<std::uint8_t, 2> headerLead{0x00, 0x00};  // the two data bytes in front of the text
  int wrongChecksumLine = 0;  // line number, from 1, whose checksum byte is one too high; 0 none
  bool crlf = false;
  bool endRecord = true;  // the S7 line
};

std::string Write(const std::vector<Record>& records, const Layout& layout = {});

// One line per record of the image, with the header and end lines of layout.
inline std::string Write(const Image& image, const Layout& layout = {}) { return Write(Records(image), layout); }

struct Region {
  std::uint8_t space;
  std::uint32_t first;
  std::uint32_t last;
};

// Program flash, boot flash and data flash of a variant (1 or 2).
std::array<Region, 3> FlashRegions(int variant);

// runs runs of 1 to maxRun random words at random places in each flash region of the variant;
// the same seed gives the same image.
Image RandomImage(int variant, std::uint32_t seed, int runs, int maxRun);

}  // namespace srec
