// The controlling terminal for the command-line front end: whether a stream
// is a terminal, the stop signals, reading a password without echo and
// asking a yes/no question.
#pragma once

#include <string>

namespace kelto::term {

inline constexpr int kStdin = 0;
inline constexpr int kStdout = 1;
inline constexpr int kStderr = 2;

bool IsTerminal(int fd);

// SIGINT and SIGTERM only raise a flag; the main loop polls it.
void InstallStopSignals();
// Returns true once for every signal received since the last call.
bool TakeStopSignal();

// Prompts on stderr and reads one line from the terminal on stdin with echo
// off (the terminal's mode is restored however the read ends). false when
// stdin is no terminal, at end of input, or when a stop signal came.
bool ReadPassword(const std::string& prompt, std::string& out);

// Asks `question` on stderr and reads the answer from the terminal on stdin:
// true only for an answer that starts with y or Y.
bool AskYesNo(const std::string& question);

}  // namespace kelto::term
