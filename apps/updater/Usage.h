#pragma once
// The command line of halvek-updater. The usage text lives here alone, so that --help and the
// manual page can be checked against one source.

inline constexpr const char* UPDATER_USAGE =
    "Usage: halvek-updater [--service] [--simulate]\n"
    "       halvek-updater --help | --version\n"
    "\n"
    "Updates the firmware of a Halvek Charging Hub attached by USB.\n"
    "\n"
    "Options:\n"
    "  --service    add the Tool module: the hub's live status and its LED levels\n"
    "  --simulate   work on an emulated hub instead of the machine's USB devices\n"
    "  --help       print this help and exit\n"
    "  --version    print the program's version and the built-in firmware's version and exit\n";
