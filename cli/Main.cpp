// typerecovery: recovers files from disk images, partitions and devices by
// their content, with the TypeRecovery library.
#include "Commands.h"

int main(int argc, char** argv) { return trcli::RunCommandLine(argc, argv); }
