#include "SRecordImage.h"

#include <random>
#include <stdexcept>

namespace srec {

namespace {

constexpr std::uint32_t PageWords = 0x10000;

std::string HeaderText(Header header) {
  switch (header) {
    case Header::ProgramAndData: return "PROGRAM&DATA";
    case Header::ProgramOnly: return std::string("PROGRA") + '\0' + "M";
    case Header::DataOnly: return "DATA";
    case Header::Rejected: return "PROGRAM DATA";
    case Header::None: break;
  }
  return "";
}

std::uint8_t ChecksumOf(const std::vector<std::uint8_t>& addressAndData) {
  unsigned sum = static_cast<unsigned>(addressAndData.size() + 1);
  for (std::uint8_t byte : addressAndData) sum += byte;
  return static_cast<std::uint8_t>(~sum);
}

// One line: type digit, then byte count, address, data and checksum as upper-case hex pairs.
std::string Line(char type, const std::vector<std::uint8_t>& addressAndData, bool wrongChecksum,
                 const char* lineEnd) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(addressAndData.size() + 1)};
  bytes.insert(bytes.end(), addressAndData.begin(), addressAndData.end());
  bytes.push_back(static_cast<std::uint8_t>(ChecksumOf(addressAndData) + (wrongChecksum ? 1 : 0)));
  std::string line{'S', type};
  for (std::uint8_t byte : bytes) {
    line += Hex[byte >> 4];
    line += Hex[byte & 0x0F];
  }
  return line + lineEnd;
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

}  // namespace

std::vector<Record> Records(const Image& image, std::size_t maxWords) {
  std::vector<Record> records;
  for (const auto& [location, word] : image) {
    const bool continues = !records.empty() && records.back().space == location.space &&
                           records.back().address + records.back().words.size() == location.address &&
                           records.back().words.size() < maxWords && location.address % PageWords != 0;
    if (!continues) records.push_back(Record{location.space, location.address, {}});
    records.back().words.push_back(word);
  }
  return records;
}

std::uint8_t Checksum(const Record& record) { return ChecksumOf(S3Bytes(record)); }

std::string Write(const std::vector<Record>& records, const Layout& layout) {
  const char* lineEnd = layout.crlf ? "\r\n" : "\n";
  std::string text;
  int lineNumber = 0;
  auto add = [&](char type, const std::vector<std::uint8_t>& bytes) {
    ++lineNumber;
    text += Line(type, bytes, lineNumber == layout.wrongChecksumLine, lineEnd);
  };
  if (layout.header != Header::None) {
    std::vector<std::uint8_t> bytes{0x00, 0x00, layout.headerLead[0], layout.headerLead[1]};
    for (char c : HeaderText(layout.header)) bytes.push_back(static_cast<std::uint8_t>(c));
    add('0', bytes);
  }
  for (const Record& record : records) {
    if (record.words.size() > 18) throw std::invalid_argument("an S3 record holds at most 18 words");
    add('3', S3Bytes(record));
  }
  if (layout.endRecord) add('7', {0x00, 0x00, 0x00, 0x00});
  return text;
}

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

}  // namespace srec
