#pragma once
// halvek-hubctl's exit codes, also listed by --help.

enum class EHubctlExit : int {
  Ok = 0,
  Error = 1,          // anything not listed below
  Usage = 2,          // the command line is wrong
  NoHub = 3,          // no hub (or none at --device)
  AccessDenied = 4,   // the hub's node cannot be opened for reading and writing
  UpdateFailed = 5,   // an update did not complete
  Timeout = 6,        // the hub did not answer, or `wait` ran out of time
  HubInUse = 7,       // another program is updating the hub
  Interrupted = 130,  // Ctrl-C
};

// The number the process ends with.
constexpr int ExitStatus(EHubctlExit code) {
  return static_cast<int>(code);
}
// The code of a process that ended with `status` (a hub's own process of update --all).
constexpr EHubctlExit ExitCodeFromStatus(int status) {
  return static_cast<EHubctlExit>(status);
}
