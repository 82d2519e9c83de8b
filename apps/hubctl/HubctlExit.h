#pragma once
// halvek-hubctl's exit codes; EXIT_CODES says what each means, for --help.

enum class EHubctlExit : int {
  Ok = 0,
  Error = 1,
  Usage = 2,
  NoHub = 3,
  AccessDenied = 4,
  UpdateFailed = 5,
  Timeout = 6,
  HubInUse = 7,
  Interrupted = 130,
};

struct TExitCodeMeaning {
  EHubctlExit code;
  const char* meaning;
};
inline constexpr TExitCodeMeaning EXIT_CODES[] = {
    {EHubctlExit::Ok, "success"},
    {EHubctlExit::Error, "other error (the output could not be written, for one)"},
    {EHubctlExit::Usage, "usage error"},
    {EHubctlExit::NoHub, "no hub (or none at --device)"},
    {EHubctlExit::AccessDenied, "access denied"},
    {EHubctlExit::UpdateFailed, "update failed"},
    {EHubctlExit::Timeout, "time-out (no answer, or wait ran out)"},
    {EHubctlExit::HubInUse, "hub in use by another program"},
    {EHubctlExit::Interrupted, "interrupted"},
};

// The number the process ends with.
constexpr int ExitStatus(EHubctlExit code) {
  return static_cast<int>(code);
}
// The code of a process that ended with `status` (a hub's own process of update --all).
constexpr EHubctlExit ExitCodeFromStatus(int status) {
  return static_cast<EHubctlExit>(status);
}
