#include "QZFlash.h"

#include <cstdio>
#include <cstdlib>

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

// Reads are awaited less while verifying: its batches are short.
void FollowOperation() {
  ChooseReadWait(numeroOpe == Verifying ||
                 ((numeroOpe == CompleteProgramming || numeroOpe == FullErasing) && numeroFin == VerifyProgrammed));
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
      FollowOperation();
      std::printf("\n You asked for number : %d\n", numeroFin);
      if (numeroFin == VerifyProgrammed) Verify();
      if (numeroFin == Quit) ExitProgram();
    } while (numeroFin == VerifyProgrammed);
  }
}

}  // namespace

void QZFlashMain() {
  RaiseTimerResolution();
  std::puts("*********************************************");
  std::puts("        Welcome to QZFlash V1.02");
  std::puts("*********************************************");

  // The operator judges the bring-up from its messages; an unknown target refuses every operation.
  BringUp(0);

  std::puts(Separator);
  std::puts("\n Choose the operation you would like to do...");
  std::puts(" 1 - Complete programming of the flash");
  std::puts(" 2 - Full erasing of the flash");
  std::puts(" 3 - Verifying the flash");
  numeroOpe = ReadAnswer(CompleteProgramming, Verifying);
  FollowOperation();
  std::printf("\n You asked for number : %d\n", numeroOpe);
  if (numeroOpe != FullErasing) ChooseFile();

  if (numeroOpe == CompleteProgramming) ProgramUntilQuit();
  RefuseUnknownTarget();
  InitialiseOrExit();
  if (numeroOpe == FullErasing)
    EraseOrExit();
  else
    Verify();
  ExitProgram();
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
  ReleaseTarget();
  std::puts("\n Goodbye ! ");
  std::puts(" Press <Enter> to continue");
  std::fflush(stdout);
  std::getchar();
  ReleaseAdapter();
  RestoreTimerResolution();
  std::exit(static_cast<int>(RunOutcome));
}
