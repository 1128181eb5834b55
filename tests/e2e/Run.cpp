#include "Run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qzflash-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void ScratchFolder::Write(const std::string& name, const std::string& content) const {
  std::ofstream(path_ / name, std::ios::binary) << content;
}

std::string ScratchFolder::Read(const std::string& name) const {
  std::ifstream file(path_ / name, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& folder, const std::string& input, int timeoutSeconds,
              bool closeInput) {
  const ScratchFolder output;
  const std::string out = (output.path() / "out").string(), err = (output.path() / "err").string();
  int in[2];
  if (pipe(in) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    close(in[1]);
    if (chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  signal(SIGPIPE, SIG_IGN);
  // The scripts are far shorter than a pipe holds, so this write never waits for the program.
  if (write(in[1], input.data(), input.size()) < 0) throw std::runtime_error("write failed");
  if (closeInput) close(in[1]);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!closeInput) close(in[1]);
  return {output.Read("out"), output.Read("err"), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}
