#include "Image.h"

#include <cstdio>
#include <random>
#include <sstream>

namespace {

std::uint8_t ChecksumOf(const std::vector<std::uint8_t>& bytes) {
  unsigned sum = static_cast<unsigned>(bytes.size() + 1);
  for (std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint8_t>(~sum);
}

}  // namespace

std::string Line(char type, const std::vector<std::uint8_t>& bytes, bool wrongChecksum, const char* end) {
  std::string line{'S', type};
  auto add = [&line](unsigned byte) {
    line += "0123456789ABCDEF"[(byte >> 4) & 0xF];
    line += "0123456789ABCDEF"[byte & 0xF];
  };
  add(static_cast<unsigned>(bytes.size() + 1));
  for (std::uint8_t byte : bytes) add(byte);
  add(ChecksumOf(bytes) + (wrongChecksum ? 1u : 0u));
  return line + end;
}

std::vector<std::uint8_t> S3Bytes(const Record& record) {
  std::vector<std::uint8_t> bytes{record.space, static_cast<std::uint8_t>(record.address >> 16),
                                  static_cast<std::uint8_t>(record.address >> 8),
                                  static_cast<std::uint8_t>(record.address)};
  for (std::uint16_t word : record.words) {
    bytes.push_back(static_cast<std::uint8_t>(word));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return bytes;
}

std::vector<Record> Records(const Image& image, std::size_t maxWords) {
  std::vector<Record> records;
  for (const auto& [location, word] : image) {
    const bool continues = !records.empty() && records.back().space == location.space &&
                           records.back().address + records.back().words.size() == location.address &&
                           records.back().words.size() < maxWords && location.address % 0x10000 != 0;
    if (!continues) records.push_back(Record{location.space, location.address, {}});
    records.back().words.push_back(word);
  }
  return records;
}

std::uint8_t Checksum(const Record& record) { return ChecksumOf(S3Bytes(record)); }

std::string Write(const std::vector<Record>& records, const Layout& layout) {
  const char* end = layout.crlf ? "\r\n" : "\n";
  std::string text;
  int line = 0;
  auto add = [&](char type, const std::vector<std::uint8_t>& bytes) {
    text += Line(type, bytes, ++line == layout.wrongChecksumLine, end);
  };
  if (!layout.header.empty()) {
    std::vector<std::uint8_t> bytes{0x00, 0x00};
    bytes.insert(bytes.end(), layout.header.begin(), layout.header.end());
    add('0', bytes);
  }
  for (const Record& record : records) add('3', S3Bytes(record));
  if (layout.endRecord) add('7', {0x00, 0x00, 0x00, 0x00});
  return text;
}

std::string Write(const Image& image, const Layout& layout) { return Write(Records(image), layout); }

std::array<Region, 3> FlashRegions(int variant) {
  if (variant == 2) return {{{SpaceP, 0x00000, 0x0FFFF}, {SpaceP, 0x20000, 0x20FFF}, {SpaceX, 0x1000, 0x1FFF}}};
  return {{{SpaceP, 0x00000, 0x1FFFF}, {SpaceP, 0x20000, 0x20FFF}, {SpaceX, 0x2000, 0x2FFF}}};
}

// Raw mt19937 output is fixed by the standard, distributions are not: the modulo keeps the
// images the same on every standard library.
Image RandomImage(int variant, std::uint32_t seed, int runs, int maxRun) {
  std::mt19937 random(seed);
  auto below = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  Image image;
  for (const Region& region : FlashRegions(variant)) {
    for (int run = 0; run < runs; ++run) {
      const std::uint32_t start = region.first + below(region.last - region.first + 1);
      const std::uint32_t length = 1 + below(static_cast<std::uint32_t>(maxRun));
      for (std::uint32_t address = start; address < start + length && address <= region.last; ++address)
        image[{region.space, address}] = static_cast<std::uint16_t>(below(0x10000));
    }
  }
  return image;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string SpaceLetter(std::uint8_t space) { return space == SpaceX ? "X" : "P"; }

std::string StateOf(const Image& image) {
  std::map<Location, std::string> rows;
  for (const auto& [at, word] : image) {
    std::string& row = rows[{at.space, at.address & ~7u}];
    if (row.empty()) row = " FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF";
    row.replace(1 + 5 * (at.address & 7u), 4, Hex(word, 4));
  }
  std::string text;
  for (const auto& [at, row] : rows)
    if (row.find_first_not_of(" F") != std::string::npos)
      text += SpaceLetter(at.space) + " " + Hex(at.address, 5) + ":" + row + "\n";
  return text;
}

std::vector<std::uint16_t> Words(int count, std::uint16_t first) {
  std::vector<std::uint16_t> words;
  for (int i = 0; i < count; ++i) words.push_back(static_cast<std::uint16_t>(first + 0x0101 * i));
  return words;
}

Image ImageOf(const std::vector<Record>& records, std::size_t count) {
  Image image;
  for (const Record& record : records)
    for (std::uint32_t k = 0; k < record.words.size() && image.size() < count; ++k)
      image[{record.space, record.address + k}] = record.words[k];
  return image;
}

std::string RowsOf(const std::string& stateFile) { return stateFile.substr(stateFile.find('\n') + 1); }

std::vector<std::string> TraceLines(const std::string& trace, const std::string& prefix) {
  std::istringstream lines(trace);
  std::vector<std::string> found;
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(prefix)) found.push_back(line.substr(prefix.size()));
  return found;
}
