// Exit statuses of the typerecovery tool. Each failure class has its own
// status so that scripts can tell a bad command line from a bad source, a
// full output disk or a state file that belongs to another run.
#ifndef TYPERECOVERY_CLI_EXITCODES_H
#define TYPERECOVERY_CLI_EXITCODES_H

namespace trcli {

enum ExitCode : int {
  kExitOk = 0,
  kExitNoMatch = 1,          // check: the file does not begin like its type
  kExitUsage = 2,            // bad arguments
  kExitSource = 3,           // the source (or the file to check) cannot be read
  kExitOutput = 4,           // the output folder or report file cannot be written
  kExitState = 5,            // state file missing, unreadable or not of this run
  kExitUnknownType = 6,      // check: the extension names no supported type
  kExitInternal = 70,        // the library refused something it should accept
  kExitStoppedUnsaved = 7,   // SIGINT or SIGTERM, and no state could be (or was to be) kept
  kExitInterrupted = 130,    // SIGINT or SIGTERM; the state was saved
};

}  // namespace trcli

#endif
