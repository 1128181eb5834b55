#include "FlashState.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace qzsim {

namespace {

constexpr std::uint32_t kRowWords = 8;

char SpaceLetter(Space space) { return space == Space::P ? 'P' : 'X'; }

bool ParseHex(const std::string& text, std::uint32_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [end, error] = std::from_chars(first, last, value, 16);
  return !text.empty() && error == std::errc() && end == last;
}

}  // namespace

void SaveFlashState(const FlashModule& flash, std::ostream& out) {
  out << "# qzflash-sim flash state: space, word address, eight words; erased rows left out\n";
  for (const FlashBlock& block : flash.Map().flash) {
    for (std::uint32_t row = block.first; row < block.first + block.words; row += kRowWords) {
      std::array<std::uint16_t, kRowWords> words{};
      bool erased = true;
      for (std::uint32_t i = 0; i < kRowWords; ++i) {
        words[i] = flash.Cell(block.space, row + i);
        erased = erased && words[i] == FlashModule::kErased;
      }
      if (erased) continue;
      char text[80];
      int length = std::snprintf(text, sizeof text, "%c %05X:", SpaceLetter(block.space),
                                 static_cast<unsigned>(row));
      for (std::uint16_t word : words) {
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                " %04X", static_cast<unsigned>(word));
      }
      out << text << '\n';
    }
  }
}

std::string LoadFlashState(FlashModule& flash, std::istream& in) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto where = "line " + std::to_string(number) + ": ";
    std::istringstream fields(line);
    std::string space;
    if (!(fields >> space) || space[0] == '#') continue;
    std::string address;
    fields >> address;
    std::uint32_t first = 0;
    if ((space != "P" && space != "X") || address.empty() || address.back() != ':' ||
        !ParseHex(address.substr(0, address.size() - 1), first)) {
      return where + "expected 'P' or 'X', a hexadecimal address and ':'";
    }
    const Space memory = space == "P" ? Space::P : Space::X;
    std::vector<std::uint16_t> words;
    for (std::string word; fields >> word;) {
      std::uint32_t value = 0;
      if (word.size() > 4 || !ParseHex(word, value)) {
        return where + "'" + word + "' is not a word of four hexadecimal digits";
      }
      words.push_back(static_cast<std::uint16_t>(value));
    }
    if (words.empty() || words.size() > kRowWords) {
      return where + "a row holds one to eight words";
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
      const std::uint32_t at = first + static_cast<std::uint32_t>(i);
      if (!flash.BlockAt(memory, at)) {
        char name[32];
        std::snprintf(name, sizeof name, "%c:%05X", SpaceLetter(memory), static_cast<unsigned>(at));
        return where + name + " is not flash of this target";
      }
      flash.SetCell(memory, at, words[i]);
    }
  }
  return {};
}

std::string LoadFlashStateFile(FlashModule& flash, const std::string& file) {
  if (!std::filesystem::exists(file)) return {};
  std::ifstream in(file);
  if (!in) return "cannot read state file " + file;
  const std::string bad = LoadFlashState(flash, in);
  return bad.empty() ? bad : file + ": " + bad;
}

std::string SaveFlashStateFile(FlashModule& flash, const std::string& file) {
  flash.Settle();
  const std::string partial = file + ".partial";
  std::error_code ignored;
  {
    std::ofstream out(partial, std::ios::trunc);
    SaveFlashState(flash, out);
    if (!out.flush()) {
      if (out.is_open()) std::filesystem::remove(partial, ignored);
      return "cannot write " + partial;
    }
  }
  std::error_code error;
  std::filesystem::rename(partial, file, error);
  if (!error) return {};
  std::filesystem::remove(partial, ignored);
  return "cannot replace " + file + ": " + error.message();
}

std::string CheckFlashStateFile(const std::string& file) {
  const std::string cannot = "cannot save state file " + file + ": ";
  std::error_code ignored;
  if (std::filesystem::is_directory(file, ignored)) return cannot + "it is a folder";
  const std::string partial = file + ".partial";
  std::FILE* probe = std::fopen(partial.c_str(), "w");
  if (probe == nullptr) return cannot + std::strerror(errno);
  std::fclose(probe);
  std::filesystem::remove(partial, ignored);
  return {};
}

}  // namespace qzsim
