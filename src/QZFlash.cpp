#include "QZFlash.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <optional>
#include <string_view>

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
    "       qzflash [--device N] [--fast] program FILE    check FILE, erase, program and verify\n"
    "       qzflash [--device N] [--fast] verify FILE     verify the flash against FILE\n"
    "       qzflash devices                               list the adapters (D2XX devices)\n"
    "       qzflash --help | --version\n"
    "\n"
    "  --device N   use device N of the list (default 0)\n"
    "  --trace FILE write every D2XX call and sleep of the run into FILE (qzflash-sim's\n"
    "               trace format; qzflash-sim --replay FILE checks the model against it)\n"
    "  --fast       take each answer as soon as the adapter has it, instead of after a\n"
    "               fixed wait: the same JTAG traffic in a fraction of the time\n"
    "\n"
    "Commands neither ask nor wait for Enter. Exit status: 0 done, 1 the operation failed,\n"
    "2 the file cannot be used or a bad command line, 3 no adapter, adapter lost or no known\n"
    "target.\n";

enum class Command { Dialogue, Erase, Program, Verify, Devices, Help, Version };

struct CommandLine {
  Command command = Command::Dialogue;
  int device = 0;
  bool fast = false;
  std::string file;
  std::string trace;
};

// The dialogue waits for Enter before it ends; a command does not.
bool waitForEnter = true;
// Nothing of the adapter is touched before the bring-up.
bool adapterBroughtUp = false;

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

// A flash that is not erased must not be programmed.
void EraseOrExit() {
  const Outcome outcome = FullErase(numeroCible);
  if (outcome != Outcome::Done) {
    std::puts(" Erasing error");
    EndWith(outcome);
  }
  std::puts("\n Memory has been erased...");
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
void Program() {
  if (CheckFileForProgramming(*VariantOf(numeroCible)) != Outcome::Done) EndWith(Outcome::FileUnusable);
  ChooseReadWait(false);
  InitialiseOrExit();
  EraseOrExit();
  const Outcome outcome = WriteMemory();
  RecordPass(outcome);
  std::puts(outcome == Outcome::Done ? "\n Memory has been rewritten..." : "\n Programming failed");
}

[[noreturn]] void ProgramUntilQuit() {
  RefuseUnknownTarget();
  for (;;) {
    Program();
    do {
      std::puts("\n What do you want to do ?");
      std::puts(" 1 - Do it again");
      std::puts(" 2 - Verify the programmed flash");
      std::puts(" 3 - Quit");
      numeroFin = ReadAnswer(DoItAgain, Quit);
      std::printf("\n You asked for number : %d\n", numeroFin);
      if (numeroFin == VerifyProgrammed) {
        ChooseReadWait(true);
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
    } else if (arg == "--trace" || arg.starts_with("--trace=")) {
      if (arg.starts_with("--trace="))
        line.trace = arg.substr(8);
      else if (i + 1 < args.size())
        line.trace = args[++i];
      if (line.trace.empty()) return "--trace needs a file";
    } else if (arg == "--device" || arg.starts_with("--device=")) {
      std::string_view value;
      if (arg.starts_with("--device=")) {
        value = arg.substr(9);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return "--device needs a number";
      }
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), line.device);
      if (value.empty() || error != std::errc() || end != value.data() + value.size() || line.device < 0)
        return "--device: '" + std::string(value) + "' is not a device number";
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return "unknown option '" + std::string(arg) + "'";
    } else {
      words.emplace_back(arg);
    }
  }
  if (words.empty()) return std::nullopt;
  const std::string& name = words[0];
  const bool needsFile = name == "program" || name == "verify";
  if (name == "erase") line.command = Command::Erase;
  else if (name == "program") line.command = Command::Program;
  else if (name == "verify") line.command = Command::Verify;
  else if (name == "devices") line.command = Command::Devices;
  else return "unknown command '" + name + "'";
  if (needsFile && words.size() < 2) return name + " needs a file";
  if (words.size() > (needsFile ? 2u : 1u)) return "too many arguments after '" + name + "'";
  if (needsFile && words[1].empty()) return name + ": the file name is empty";
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
  ChooseReadWait(numeroOpe == Verifying);
  InitialiseOrExit();
  if (numeroOpe == FullErasing)
    EraseOrExit();
  else
    Verify();
  ExitProgram();
}

// A command runs as the dialogue would for the same answers, without asking.
[[noreturn]] void RunCommand(const CommandLine& line) {
  waitForEnter = false;
  if (!OutputIsTerminal()) PassProgress = ProgressStyle::Lines;
  if (!line.file.empty()) {
    ChoosenFile = line.file;
    // A file that cannot even be opened is refused before the adapter is touched.
    if (!CountSRecordline()) {
      std::puts("\n Impossible to open the file");
      std::fflush(stdout);
      std::fprintf(stderr, "qzflash: %s: %s\n", line.file.c_str(), WhyUnreadable(line.file).c_str());
      EndWith(Outcome::FileUnusable);
    }
  }
  numeroOpe = line.command == Command::Erase ? FullErasing : line.command == Command::Program ? CompleteProgramming : Verifying;
  Start(line.device, true);
  RefuseUnknownTarget();
  if (line.command == Command::Program) {
    Program();
    if (RunOutcome != Outcome::Done) ExitProgram();
    numeroFin = VerifyProgrammed;
    ChooseReadWait(true);
    Verify();
  } else {
    ChooseReadWait(numeroOpe == Verifying);
    InitialiseOrExit();
    if (line.command == Command::Erase)
      EraseOrExit();
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
  if (!line.trace.empty()) {
    if (const std::string why = StartD2XXTrace(line.trace); !why.empty()) {
      std::fprintf(stderr, "qzflash: %s: %s\n", line.trace.c_str(), why.c_str());
      std::exit(static_cast<int>(Outcome::FileUnusable));
    }
  }
  UseFastReads(line.fast);
  switch (line.command) {
    case Command::Help:
      std::fputs(Usage, stdout);
      std::exit(0);
    case Command::Version:
      std::puts(Version);
      std::exit(0);
    case Command::Devices:
      std::exit(static_cast<int>(ListAdapters()));
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
  std::exit(static_cast<int>(RunOutcome));
}
