#include "QZFlash.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "D2XXTrace.h"
#include "PassLib.h"
#include "Platform.h"
#include "SRecordLib.h"

std::int32_t numeroOpe = 0;
std::int32_t numeroFin = 0;
std::int32_t FileNumber = 0;
std::vector<std::string> FileTab(1);
Outcome RunOutcome = Outcome::Done;

namespace {

constexpr const char* Separator = "\n*************************************************";
constexpr const char* Version = "QZFlash V1.02";

constexpr const char* Usage =
    "Usage: qzflash [--device N] [--fast]                 the operator dialogue\n"
    "       qzflash [--device N] [--fast] erase           full erase of the flash\n"
    "       qzflash [--device N] [--fast] program [--erase all|touched] FILE\n"
    "                                                     check FILE, erase, program and verify\n"
    "       qzflash [--device N] [--fast] verify FILE     verify the flash against FILE\n"
    "       qzflash [--device N] [--fast] read [--memory LIST] FILE\n"
    "                                                     save the flash as an S-Record file\n"
    "       qzflash [--device N] [--fast] blank-check [--memory LIST]\n"
    "                                                     check that the flash is erased\n"
    "       qzflash devices                               list the adapters (D2XX devices)\n"
    "       qzflash --help | --version\n"
    "\n"
    "  --device N     use device N of the list (default 0)\n"
    "  --fast         take each answer as soon as the adapter has it, instead of after a\n"
    "                 fixed wait: the same JTAG traffic in a fraction of the time\n"
    "  --erase all    erase every block before programming (default)\n"
    "  --erase touched  erase only the blocks that hold a word of FILE, keep the others\n"
    "  --memory LIST  a comma-separated choice of program, boot and data (default all)\n"
    "  --trace FILE   write every D2XX call and sleep of the run into FILE (qzflash-sim's\n"
    "                 trace format; qzflash-sim --replay FILE checks the model against it)\n"
    "\n"
    "Commands neither ask nor wait for Enter. Exit status: 0 done, 1 the operation failed\n"
    "(or the flash is not blank), 2 the file cannot be used or written or a bad command line,\n"
    "3 no adapter, adapter lost or no known target.\n";

enum class Command { Dialogue, Erase, Program, Verify, Read, BlankCheck, Devices, Help, Version };

struct CommandLine {
  Command command = Command::Dialogue;
  int device = 0;
  bool fast = false;
  std::string file;
  bool eraseTouched = false;
  bool eraseGiven = false;
  MemoryChoice memory{true, true, true};
  bool memoryGiven = false;
  std::string trace;
};

// The dialogue waits for Enter before it ends; a command does not.
bool waitForEnter = true;
// Nothing of the adapter is touched before the bring-up.
bool adapterBroughtUp = false;
// A read-back file goes to disk only once every word was read, under a name beside its place,
// and is then moved there: a read that fails or is interrupted never leaves half a file, nor
// spoils the file that was there.

// Writes text into a new file beside path; its name, or nothing with the system's reason.
std::optional<std::string> WriteBeside(const std::string& path, const std::string& text, std::string& why) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    why = std::make_error_code(std::errc::is_a_directory).message();
    return std::nullopt;
  }
  // A user's file under the name, or a link, is left alone.
  std::string name;
  for (int k = 0; name.empty() && k < 100; ++k) {
    const std::string candidate = path + ".partial" + (k > 0 ? std::to_string(k) : "");
    if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) name = candidate;
  }
  if (name.empty()) {
    why = "no free name beside it for the file being written";
    return std::nullopt;
  }
  std::FILE* stream = std::fopen(name.c_str(), "wb");
  if (stream == nullptr) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written) why = std::strerror(errno);
  const bool closed = std::fclose(stream) == 0;
  if (written && !closed) why = std::strerror(errno);
  if (written && closed) return name;
  std::remove(name.c_str());
  return std::nullopt;
}

// Puts text in the place of path; false with the reason.
bool WriteWhole(const std::string& path, const std::string& text, std::string& why) {
  const std::optional<std::string> written = WriteBeside(path, text, why);
  if (written && MoveIntoPlace(*written, path, why)) return true;
  if (written) std::remove(written->c_str());
  return false;
}

// The D2XX trace asked for, if any.
std::string traceFile;

// A trace that lost lines is said, but does not change what the run did.
[[noreturn]] void ExitWith(Outcome outcome) {
  if (const std::string why = EndD2XXTrace(); !why.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "qzflash: %s: the trace is incomplete: %s\n", traceFile.c_str(), why.c_str());
  }
  std::exit(static_cast<int>(outcome));
}

// Menu answers.
constexpr std::int32_t CompleteProgramming = 1;
constexpr std::int32_t FullErasing = 2;
constexpr std::int32_t Verifying = 3;
constexpr std::int32_t DoItAgain = 1;
constexpr std::int32_t VerifyProgrammed = 2;
constexpr std::int32_t Quit = 3;

// Reads one menu answer: at most 9 characters of a line (the rest waits for the next read),
// accepted when it holds a number in [low, high]. The end of the input ends the run.
std::int32_t ReadAnswer(std::int32_t low, std::int32_t high) {
  char line[10] = {};
  for (;;) {
    if (std::fgets(line, sizeof line, stdin) == nullptr) ExitProgram();
    int value = 0;
    if (std::sscanf(line, "%d", &value) == 1 && value >= low && value <= high) return value;
  }
}

[[noreturn]] void EndWith(Outcome outcome) {
  RunOutcome = outcome;
  ExitProgram();
}

void ChooseFile() {
  std::puts(Separator);
  std::puts("\n Choose the file you want to use...");
  FilesList();
  const std::int32_t number = ReadAnswer(1, FileNumber);
  ChoosenFile = FileTab[static_cast<std::size_t>(number)];
  std::printf("\n Choosen File : %s\n", ChoosenFile.c_str());
}

void RefuseUnknownTarget() {
  if (VariantOf(numeroCible)) return;
  std::puts("\n Wrong aim !");
  EndWith(Outcome::LinkLost);
}

void InitialiseOrExit() {
  std::puts(Separator);
  const Outcome outcome = Initialisation();
  if (outcome != Outcome::Done) EndWith(outcome);
}

// A flash that is not erased must not be programmed. onlyBlocks, when given, chooses the blocks.
void EraseOrExit(const std::vector<bool>* onlyBlocks) {
  const Outcome outcome = onlyBlocks ? EraseChosenBlocks(numeroCible, *onlyBlocks) : FullErase(numeroCible);
  if (outcome != Outcome::Done) {
    std::puts(" Erasing error");
    EndWith(outcome);
  }
  std::puts(onlyBlocks ? "\n The blocks the file touches have been erased..." : "\n Memory has been erased...");
}

// A pass that gave up on the file ends the run: the file's fault is on the console, and no
// word on the flash would be true.
void RecordPass(Outcome outcome) {
  if (outcome == Outcome::FileUnusable) EndWith(outcome);
  RunOutcome = outcome;
}

void Verify() {
  const Outcome outcome = VerifyMemory();
  RecordPass(outcome);
  std::puts(outcome == Outcome::Done ? "\n Verification success" : "\n Memory error detected");
}

// Nothing is erased for a file that could not be programmed whole.
void Program(bool eraseTouchedOnly) {
  std::vector<bool> touchedBlocks;
  if (CheckFileForProgramming(*VariantOf(numeroCible), touchedBlocks) != Outcome::Done) EndWith(Outcome::FileUnusable);
  ChooseReadWait(ReadWork::Programming);
  InitialiseOrExit();
  EraseOrExit(eraseTouchedOnly ? &touchedBlocks : nullptr);
  const Outcome outcome = WriteMemory();
  RecordPass(outcome);
  std::puts(outcome == Outcome::Done ? "\n Memory has been rewritten..." : "\n Programming failed");
}

[[noreturn]] void ProgramUntilQuit() {
  RefuseUnknownTarget();
  for (;;) {
    Program(false);
    do {
      std::puts("\n What do you want to do ?");
      std::puts(" 1 - Do it again");
      std::puts(" 2 - Verify the programmed flash");
      std::puts(" 3 - Quit");
      numeroFin = ReadAnswer(DoItAgain, Quit);
      std::printf("\n You asked for number : %d\n", numeroFin);
      if (numeroFin == VerifyProgrammed) {
        ChooseReadWait(ReadWork::Verifying);
        Verify();
      }
      if (numeroFin == Quit) ExitProgram();
    } while (numeroFin == VerifyProgrammed);
  }
}

// The system's reason why file cannot be read.
std::string WhyUnreadable(const std::string& file) {
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) return std::make_error_code(std::errc::is_a_directory).message();
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return std::strerror(errno);
  std::fclose(stream);
  return "cannot be read";
}

// The value of option name: after '=' in arg, or the next argument.
std::optional<std::string_view> OptionValue(std::string_view name, const std::vector<std::string>& args,
                                            std::size_t& i) {
  const std::string_view arg = args[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
  if (i + 1 < args.size()) return args[++i];
  return std::nullopt;
}

bool IsOption(std::string_view arg, std::string_view name) {
  return arg.starts_with(name) && (arg.size() == name.size() || arg[name.size()] == '=');
}

std::optional<std::string> ParseMemoryList(std::string_view list, MemoryChoice& choice) {
  choice = {};
  if (list.empty()) return "--memory: the list is empty";
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view name = list.substr(start, comma - start);
    if (name == "program") choice.program = true;
    else if (name == "boot") choice.boot = true;
    else if (name == "data") choice.data = true;
    else return "--memory: '" + std::string(name) + "' is not program, boot or data";
    start = comma + 1;
  }
  return std::nullopt;
}

// The command line as the run reads it, or what is wrong with it.
std::optional<std::string> Parse(const std::vector<std::string>& args, CommandLine& line) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "--version") {
      line.command = arg == "--help" ? Command::Help : Command::Version;
      return std::nullopt;
    }
    if (arg == "--fast") {
      line.fast = true;
    } else if (IsOption(arg, "--device")) {
      const auto value = OptionValue("--device", args, i);
      if (!value) return "--device needs a number";
      const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), line.device);
      if (value->empty() || error != std::errc() || end != value->data() + value->size() || line.device < 0)
        return "--device: '" + std::string(*value) + "' is not a device number";
    } else if (IsOption(arg, "--memory")) {
      const auto value = OptionValue("--memory", args, i);
      if (!value) return "--memory needs a list of program, boot and data";
      if (auto error = ParseMemoryList(*value, line.memory)) return error;
      line.memoryGiven = true;
    } else if (IsOption(arg, "--erase")) {
      const auto value = OptionValue("--erase", args, i);
      if (!value) return "--erase needs all or touched";
      if (*value != "all" && *value != "touched")
        return "--erase: '" + std::string(*value) + "' is neither all nor touched";
      line.eraseTouched = *value == "touched";
      line.eraseGiven = true;
    } else if (IsOption(arg, "--trace")) {
      const auto value = OptionValue("--trace", args, i);
      if (!value || value->empty()) return "--trace needs a file";
      line.trace = *value;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return "unknown option '" + std::string(arg) + "'";
    } else {
      words.emplace_back(arg);
    }
  }
  if (words.empty()) {
    if (line.memoryGiven || line.eraseGiven) return "--memory and --erase belong to a command";
    return std::nullopt;
  }
  const std::string& name = words[0];
  const bool needsFile = name == "program" || name == "verify" || name == "read";
  if (name == "erase") line.command = Command::Erase;
  else if (name == "program") line.command = Command::Program;
  else if (name == "verify") line.command = Command::Verify;
  else if (name == "read") line.command = Command::Read;
  else if (name == "blank-check") line.command = Command::BlankCheck;
  else if (name == "devices") line.command = Command::Devices;
  else return "unknown command '" + name + "'";
  if (needsFile && words.size() < 2) return name + " needs a file";
  if (words.size() > (needsFile ? 2u : 1u)) return "too many arguments after '" + name + "'";
  if (needsFile && words[1].empty()) return name + ": the file name is empty";
  if (line.memoryGiven && line.command != Command::Read && line.command != Command::BlankCheck)
    return "--memory belongs to read and blank-check";
  if (line.eraseGiven && line.command != Command::Program) return "--erase belongs to program";
  if (needsFile) line.file = words[1];
  return std::nullopt;
}

// The operator judges the bring-up from its messages and an unknown target refuses every
// operation; a command stops at the first step that fails and says why on standard error.
void Start(int device, bool command) {
  RaiseTimerResolution();
  std::puts("*********************************************");
  std::printf("        Welcome to %s\n", Version);
  std::puts("*********************************************");
  adapterBroughtUp = true;
  std::string failure;
  if (BringUp(device, command, failure) == Outcome::Done || !command || failure.empty()) return;
  std::fflush(stdout);
  std::fprintf(stderr, "qzflash: %s\n", failure.c_str());
  // The step that failed left no port open.
  adapterBroughtUp = false;
  EndWith(Outcome::LinkLost);
}

[[noreturn]] void Dialogue(int device) {
  Start(device, false);
  std::puts(Separator);
  std::puts("\n Choose the operation you would like to do...");
  std::puts(" 1 - Complete programming of the flash");
  std::puts(" 2 - Full erasing of the flash");
  std::puts(" 3 - Verifying the flash");
  numeroOpe = ReadAnswer(CompleteProgramming, Verifying);
  std::printf("\n You asked for number : %d\n", numeroOpe);
  if (numeroOpe != FullErasing) ChooseFile();

  if (numeroOpe == CompleteProgramming) ProgramUntilQuit();
  RefuseUnknownTarget();
  ChooseReadWait(numeroOpe == Verifying ? ReadWork::Verifying : ReadWork::Programming);
  InitialiseOrExit();
  if (numeroOpe == FullErasing)
    EraseOrExit(nullptr);
  else
    Verify();
  ExitProgram();
}

[[noreturn]] void FileFault(const std::string& file, const std::string& why) {
  std::fflush(stdout);
  std::fprintf(stderr, "qzflash: %s: %s\n", file.c_str(), why.c_str());
  EndWith(Outcome::FileUnusable);
}

// The memories chosen, as the operator reads them.
std::string Listed(const std::vector<MemoryRegion>& regions) {
  std::string text;
  for (const MemoryRegion& region : regions) text += (text.empty() ? "" : ", ") + Describe(region);
  return text;
}

[[noreturn]] void ReadBackInto(const CommandLine& line) {
  const std::vector<MemoryRegion> regions = ChosenRegions(*VariantOf(numeroCible), line.memory);
  std::printf("\n Reading %s...\n", Listed(regions).c_str());
  std::string file;
  long words = 0;
  const Outcome outcome = ReadBack(regions, HeaderFor(line.memory), file, words);
  if (outcome != Outcome::Done) {
    std::puts("\n Reading failed");
    EndWith(outcome);
  }
  std::string why;
  if (!WriteWhole(line.file, file, why)) {
    std::puts("\n The file could not be written");
    FileFault(line.file, why);
  }
  std::printf("\n Memory has been read: %ld words written to %s\n", words, line.file.c_str());
  ExitProgram();
}

[[noreturn]] void CheckBlank(const CommandLine& line) {
  const std::vector<MemoryRegion> regions = ChosenRegions(*VariantOf(numeroCible), line.memory);
  std::printf("\n Blank check of %s...\n", Listed(regions).c_str());
  const Outcome outcome = BlankCheck(regions);
  RunOutcome = outcome;
  std::puts(outcome == Outcome::Done     ? "\n The flash is erased"
            : outcome == Outcome::Failed ? "\n The flash is not erased"
                                         : "\n Blank check failed");
  ExitProgram();
}

// A command runs as the dialogue would for the same answers, without asking.
[[noreturn]] void RunCommand(const CommandLine& line) {
  waitForEnter = false;
  if (!OutputIsTerminal()) PassProgress = ProgressStyle::Lines;
  if (line.command == Command::Read) {
    // A place the file cannot be written to is refused before the adapter is touched.
    std::string why;
    const std::optional<std::string> probe = WriteBeside(line.file, "", why);
    if (!probe) FileFault(line.file, why);
    std::remove(probe->c_str());
  } else if (!line.file.empty()) {
    ChoosenFile = line.file;
    // A file that cannot even be opened is refused before the adapter is touched.
    if (!CountSRecordline()) {
      std::puts("\n Impossible to open the file");
      FileFault(line.file, WhyUnreadable(line.file));
    }
  }
  Start(line.device, true);
  RefuseUnknownTarget();
  if (line.command == Command::Read || line.command == Command::BlankCheck) {
    // The initialisation reads as a verification does; only the read-back's batches wait longer.
    ChooseReadWait(ReadWork::Verifying);
    InitialiseOrExit();
    ChooseReadWait(ReadWork::ReadingBack);
    if (line.command == Command::Read) ReadBackInto(line);
    CheckBlank(line);
  }
  if (line.command == Command::Program) {
    numeroOpe = CompleteProgramming;
    Program(line.eraseTouched);
    if (RunOutcome != Outcome::Done) ExitProgram();
    numeroFin = VerifyProgrammed;
    ChooseReadWait(ReadWork::Verifying);
    Verify();
  } else {
    numeroOpe = line.command == Command::Erase ? FullErasing : Verifying;
    ChooseReadWait(numeroOpe == Verifying ? ReadWork::Verifying : ReadWork::Programming);
    InitialiseOrExit();
    if (numeroOpe == FullErasing)
      EraseOrExit(nullptr);
    else
      Verify();
  }
  ExitProgram();
}

}  // namespace

void QZFlashMain(const std::vector<std::string>& args) {
  CommandLine line;
  if (const auto error = Parse(args, line)) {
    std::fprintf(stderr, "qzflash: %s\n%s", error->c_str(), Usage);
    std::exit(static_cast<int>(Outcome::FileUnusable));
  }
  if (line.command == Command::Help || line.command == Command::Version) {
    if (line.command == Command::Help)
      std::fputs(Usage, stdout);
    else
      std::puts(Version);
    std::exit(0);
  }
  traceFile = line.trace;
  if (!traceFile.empty()) {
    if (const std::string why = StartD2XXTrace(traceFile); !why.empty()) {
      std::fprintf(stderr, "qzflash: %s: %s\n", traceFile.c_str(), why.c_str());
      std::exit(static_cast<int>(Outcome::FileUnusable));
    }
  }
  UseFastReads(line.fast);
  switch (line.command) {
    case Command::Devices:
      ExitWith(ListAdapters());
    case Command::Dialogue:
      Dialogue(line.device);
    default:
      RunCommand(line);
  }
}

int FilesList() {
  std::vector<std::string> names;
  const FolderStatus status = ListFolder(".", names);
  if (status == FolderStatus::OpenFailed) {
    std::puts("\n Wrong path");
    EndWith(Outcome::FileUnusable);
  }
  for (const std::string& name : names) {
    ++FileNumber;
    std::printf("\n %d -> '%s'\n", FileNumber, name.c_str());
    FileTab.push_back(name);
  }
  if (status == FolderStatus::CloseFailed) {
    std::puts("\n Closing error");
    EndWith(Outcome::FileUnusable);
  }
  return 0;
}

void ExitProgram() {
  if (adapterBroughtUp) ReleaseTarget();
  std::puts("\n Goodbye ! ");
  if (waitForEnter) {
    std::puts(" Press <Enter> to continue");
    std::fflush(stdout);
    std::getchar();
  }
  if (adapterBroughtUp) ReleaseAdapter();
  RestoreTimerResolution();
  ExitWith(RunOutcome);
}
