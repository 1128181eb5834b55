// Runs a built executable the way an operator would: in a folder of its own, with scripted
// console input, and collects what it printed and how it ended.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when it did not exit by itself in time
};

// A fresh, empty folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Runs program with args in folder, feeding input on standard input and then closing it, or
// keeping it open while the program runs. A run still going after timeoutSeconds is killed.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& folder, const std::string& input, int timeoutSeconds = 60,
              bool closeInput = true);
