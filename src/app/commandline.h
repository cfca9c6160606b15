#pragma once

namespace Lumetra {

// True when the arguments ask for the command line's own work (printing, the print history, help or
// the version) rather than the window: an argument that starts with "--", or "-o" or "-h".
bool wantsCommandLine(int argc, char** argv);

// Does that work without a window or a display, by the same loader, set rules, layout and job path as
// the window, and returns the exit code: 0 done, 1 a load or print failure (nothing sent), 2 a usage
// error or a warning not accepted with --yes, 130 interrupted before the job was handed over.
int runCommandLine(int argc, char** argv);

} // namespace Lumetra
