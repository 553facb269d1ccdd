// The tool's one way to tell the user something outside the reports: a
// line on standard error after the tool's name, as for every warning,
// error and note.
#ifndef TYPERECOVERY_CLI_MESSAGE_H
#define TYPERECOVERY_CLI_MESSAGE_H

#include <cstdio>
#include <string>

namespace trcli {

inline void Message(const std::string& text) { std::fprintf(stderr, "typerecovery: %s\n", text.c_str()); }

}  // namespace trcli

#endif
