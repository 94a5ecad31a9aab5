#pragma once
// The converter's program entry, as a function so that a test host can run the whole start-up
// in a process of its own.
#include <functional>
#include <string>
#include <vector>

struct OrluneStartHooks {
  // Whether Shift or Ctrl is held (default: the desktop's keyboard state).
  std::function<bool()> override_held;
  // Called once every window exists, just before the message loop runs.
  std::function<void()> before_run;
};

// Runs the converter: `args` are the program's arguments after its name. Returns the process
// exit code: 0 after a run or when another instance is running, -1 when the instance marker
// cannot be made.
int OrluneMain(const std::vector<std::string>& args, const OrluneStartHooks& hooks = {});
