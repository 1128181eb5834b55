// Writes an S-Record image of WORDS random words for variant 1 to standard output, for
// bench/passes-bench: a thirty-second each in boot flash (P:0x20000-0x20FFF) and data flash
// (X:0x2000-0x2FFF), the rest over program flash (P:0x00000-0x1FFFF), in records of 16 words
// at random 16-word slots. The same WORDS and SEED give the same file (with one C++ library).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRecordWords = 16;
constexpr std::uint8_t kSpaceP = 0;
constexpr std::uint8_t kSpaceX = 2;

struct Region {
  std::uint8_t space;
  std::uint32_t first;
  std::uint32_t words;
};
constexpr Region kProgram{kSpaceP, 0x00000, 0x20000};
constexpr Region kBoot{kSpaceP, 0x20000, 0x1000};
constexpr Region kData{kSpaceX, 0x2000, 0x1000};

void Record(char type, const std::vector<std::uint8_t>& bytes) {
  const auto count = static_cast<unsigned>(bytes.size() + 1);
  unsigned sum = count;
  std::printf("S%c%02X", type, count);
  for (std::uint8_t byte : bytes) {
    std::printf("%02X", byte);
    sum += byte;
  }
  std::printf("%02X\n", ~sum & 0xFF);
}

// `records` records at distinct slots of the region, in address order.
void Fill(const Region& region, std::uint32_t records, std::mt19937& random) {
  std::vector<std::uint32_t> slots(region.words / kRecordWords);
  std::iota(slots.begin(), slots.end(), 0);
  std::shuffle(slots.begin(), slots.end(), random);
  slots.resize(records);
  std::sort(slots.begin(), slots.end());
  for (std::uint32_t slot : slots) {
    const std::uint32_t address = region.first + slot * kRecordWords;
    std::vector<std::uint8_t> bytes = {region.space, static_cast<std::uint8_t>(address >> 16),
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address)};
    for (std::uint32_t i = 0; i < 2 * kRecordWords; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(random()));
    }
    Record('3', bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long words = argc == 3 ? std::strtoul(argv[1], nullptr, 10) : 0;
  const std::uint32_t records = static_cast<std::uint32_t>(words / kRecordWords);
  const std::uint32_t side = std::max<std::uint32_t>(1, records / 32);
  if (words == 0 || words % kRecordWords != 0 || records < 3 * side ||
      records - 2 * side > kProgram.words / kRecordWords || side > kBoot.words / kRecordWords) {
    std::fprintf(stderr,
                 "usage: passes_bench_image WORDS SEED\n"
                 "WORDS: a multiple of 16, at least 48, that fits variant 1's flash\n");
    return 2;
  }
  std::mt19937 random(static_cast<std::mt19937::result_type>(std::strtoul(argv[2], nullptr, 10)));

  const std::string header = "PROGRAM&DATA";
  std::vector<std::uint8_t> s0 = {0, 0, 0, 0};  // address, then two zero bytes before the text
  s0.insert(s0.end(), header.begin(), header.end());
  Record('0', s0);
  Fill(kProgram, records - 2 * side, random);
  Fill(kBoot, side, random);
  Fill(kData, side, random);
  Record('7', {0, 0, 0, 0});
}
