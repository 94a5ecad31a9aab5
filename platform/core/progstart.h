#pragma once
// Starting another program from an argument vector, never through a shell, with the failure
// mapped to the result codes the programs turn into their messages.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vant {

// The classic program-start result codes: 32 and above is success.
enum StartResult : int {
  kStartOutOfResources = 0,  // memory or process limits (ENOMEM, EAGAIN, E2BIG, ...)
  kStartFileNotFound = 2,    // the program does not exist (ENOENT)
  kStartPathNotFound = 3,    // its folder does not exist, or a part of it is no folder
  kStartAccessDenied = 5,    // not executable for us (EACCES, EPERM)
  kStartBadFormat = 11,      // not a program this system can run (ENOEXEC, ELIBBAD, ...)
  kStartOk = 33,
};

// Maps a start failure's errno; `program` tells a missing file from a missing folder.
StartResult StartResultFromErrno(int err, const std::string& program);

// A started program. Destroying it neither waits nor kills: a program still running is reaped in
// the background when it ends, so no zombie is left.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with `argv` (searched in PATH when it holds no '/'). The child gets our
  // environment and standard handles.
  StartResult Start(const std::vector<std::string>& argv);

  bool IsRunning() const { return pid_ > 0 && !exited_; }
  pid_t Pid() const { return pid_; }
  // Waits up to `timeout_ms` for the program to end; true when it has.
  bool WaitFor(int64_t timeout_ms);
  // Kills the program (SIGKILL) and reaps it.
  void Kill();
  // The exit status once ended: the exit code, or 128 + signal number.
  int ExitCode() const { return exit_code_; }

 private:
  void Release();
  pid_t pid_ = -1;
  bool exited_ = false;
  int exit_code_ = -1;
};

// Starts a program and leaves it running on its own.
StartResult StartProgram(const std::vector<std::string>& argv);

// Splits a command line into arguments: blanks separate them, double quotes group (and are
// removed), as the programs' "%s \"%s\"" lines expect.
std::vector<std::string> SplitCommandLine(const std::string& line);

}  // namespace vant
