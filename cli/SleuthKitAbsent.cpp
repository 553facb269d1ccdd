// The evidence calls in a build without The Sleuth Kit: each answers that
// only raw images, devices and standard input can be read.
#include "SleuthKit.h"

namespace trcli {
namespace {
const char kAbsent[] =
    "this typerecovery was built without The Sleuth Kit: it reads raw images, devices and standard input only";
}

bool EvidenceSupportBuilt() { return false; }

std::unique_ptr<Medium> OpenImage(const std::string&, SourceFormat, std::string* error) {
  *error = kAbsent;
  return nullptr;
}

bool ReadLayout(Medium&, VolumeLayout*, std::string* error) {
  *error = kAbsent;
  return false;
}

bool CollectFreeSpace(Medium&, std::optional<unsigned>, MediaMap*, std::vector<std::string>*, std::string* error) {
  *error = kAbsent;
  return false;
}

}  // namespace trcli
