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
#include <vector>

#include "Image.h"

namespace {

constexpr std::uint32_t kRecordWords = 16;

// `records` records at distinct slots of the region, in address order.
void Fill(Image& image, const Region& region, std::uint32_t records, std::mt19937& random) {
  std::vector<std::uint32_t> slots((region.last - region.first + 1) / kRecordWords);
  std::iota(slots.begin(), slots.end(), 0);
  std::shuffle(slots.begin(), slots.end(), random);
  slots.resize(records);
  for (std::uint32_t slot : slots)
    for (std::uint32_t i = 0; i < kRecordWords; ++i)
      image[{region.space, region.first + slot * kRecordWords + i}] = static_cast<std::uint16_t>(random());
}

}  // namespace

int main(int argc, char** argv) {
  const auto [program, boot, data] = FlashRegions(1);
  const unsigned long words = argc == 3 ? std::strtoul(argv[1], nullptr, 10) : 0;
  const std::uint32_t records = static_cast<std::uint32_t>(words / kRecordWords);
  const std::uint32_t side = std::max<std::uint32_t>(1, records / 32);
  if (words == 0 || words % kRecordWords != 0 || records < 3 * side ||
      records - 2 * side > (program.last + 1) / kRecordWords || side > (boot.last - boot.first + 1) / kRecordWords) {
    std::fprintf(stderr,
                 "usage: passes_bench_image WORDS SEED\n"
                 "WORDS: a multiple of 16, at least 48, that fits variant 1's flash\n");
    return 2;
  }
  std::mt19937 random(static_cast<std::mt19937::result_type>(std::strtoul(argv[2], nullptr, 10)));
  Image image;
  Fill(image, program, records - 2 * side, random);
  Fill(image, boot, side, random);
  Fill(image, data, side, random);
  std::fputs(Write(image).c_str(), stdout);
}
