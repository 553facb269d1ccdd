// Output files of folder mode: root\ext\NNNNN.ext, one folder per extension
// and per thousand numbers (ext(001) from number 1000 on), existing names
// skipped; the restricted size applied at every close; the renaming close of
// the multi-format classes; discarding a file that turned out not to be kept.
// A folder emptied by a move or a discard is removed when progress is saved
// and at the end, not at once: removing and making it again for the next
// file costs far more (a freed directory block may be discarded on the disk
// there and then) than leaving it while the scan goes on.
#include <cstdlib>

#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "platform/FileSystem.h"

using typerecovery::CurrentFileSystem;

namespace {

// Appends text at path[at]; answers the new end, or 0 when it does not fit.
uint32_t Append(char16_t* path, uint32_t at, const char16_t* text) {
  if (at == 0) return 0;
  for (; *text != 0; ++text) {
    if (at + 1 >= CTypeRecovery::kPathUnits) return 0;
    path[at++] = *text;
  }
  path[at] = 0;
  return at;
}

// Appends a decimal number with at least minDigits digits (zero-padded).
uint32_t AppendNumber(char16_t* path, uint32_t at, uint32_t number, int minDigits) {
  char16_t digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (n < minDigits) digits[n++] = u'0';
  char16_t text[17];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  text[n] = 0;
  return Append(path, at, text);
}

bool EqualIgnoringCase(const char16_t* a, const char16_t* b) {
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

// A folder found missing is made again a few times: another manager
// writing to the same root may remove it when it has emptied it.
constexpr int kFolderTries = 3;

// Makes the folder of path, whose separator stands at folderEnd - 1, while
// tries remain; false when they are spent.
bool MakeFolderOf(char16_t* path, uint32_t folderEnd, int* foldersMade) {
  if (*foldersMade >= kFolderTries) return false;
  path[folderEnd - 1] = 0;
  CurrentFileSystem().CreateFolder(path);
  path[folderEnd - 1] = u'\\';
  ++*foldersMade;
  return true;
}

}  // namespace

// Folder name for file number n: "ext" below 1000, else "ext(NNN)".
uint32_t CTypeRecovery::WriteFolderName(char16_t* path, uint32_t at, uint32_t number) const {
  at = Append(path, at, m_extension);
  if (number >= 1000 && at != 0) {
    at = Append(path, at, u"(");
    at = AppendNumber(path, at, number / 1000, 3);
    at = Append(path, at, u")");
  }
  return at;
}

// File name for number n: "NNNNN.ext".
uint32_t CTypeRecovery::WriteFileName(char16_t* path, uint32_t at, uint32_t number) const {
  at = AppendNumber(path, at, number, 5);
  at = Append(path, at, u".");
  return Append(path, at, m_extension);
}

void CTypeRecovery::TellFileClosed(uint32_t disposition, const char16_t* path, uint64_t size) {
  if (WantsClosedFileRecord()) {
    tag_ClosedFileInfo info{};
    info.size = sizeof info;
    info.disposition = disposition;
    info.path = path + m_rootLength;
    info.extension = m_extension;
    info.typeCode = m_typeCode;
    info.complete = m_endNoted ? m_endComplete : 0;
    info.fileStart = m_fileStart;
    info.bytesWritten = size;
    const uint64_t leadIn = LeadInBytes();
    info.leadIn = leadIn < size ? leadIn : size;
    info.expectedSize = m_endNoted ? m_endExpectedSize : 0;
    info.picture = m_endNoted && m_endHasPicture ? &m_endPicture : nullptr;
    info.bytesUnwritten = disposition == TYPERECOVERY_FILE_KEPT ? m_endUnwritten : 0;
    m_host->TellFileClosed(info);
  }
  m_endUnwritten = 0;
  m_endNoted = false;
  m_endHasPicture = false;
}

uint32_t CTypeRecovery::CreateOutputFile(uint32_t* counter) {
  if (m_outputPath == nullptr || m_outputPath[0] == 0) return 1;
  m_endNoted = false;
  m_endHasPicture = false;
  typerecovery::FileSystem& fs = CurrentFileSystem();
  uint32_t folderEnd = WriteFolderName(m_outputPath, m_rootLength, *counter);
  if (folderEnd == 0) return 0;  // the name would not fit in the path buffer
  folderEnd = Append(m_outputPath, folderEnd, u"\\");
  if (folderEnd == 0) return 0;
  // The first free number: one create that never replaces a file answers
  // both whether the name is taken and whether the folder is there, which
  // is made at the first miss only.
  int foldersMade = 0;
  for (;;) {
    if (WriteFileName(m_outputPath, folderEnd, *counter) == 0) return 0;
    using Failure = typerecovery::FileSystem::CreateFailure;
    Failure why = Failure::kNone;
    m_outputFile = fs.CreateNew(m_outputPath, &why);
    if (m_outputFile != TYPERECOVERY_INVALID_FILE) break;
    if (why == Failure::kOther && fs.Exists(m_outputPath)) why = Failure::kExists;
    if (why == Failure::kNoFolder && MakeFolderOf(m_outputPath, folderEnd, &foldersMade)) continue;
    ++*counter;  // a number tried is used, as when the create fails
    if (why != Failure::kExists) return 0;
  }
  ++*counter;
  m_outputBase = 0;
  return 1;
}

uint64_t CTypeRecovery::CloseOutputHandle() {
  m_endUnwritten = FlushOutput() ? 0 : m_outputBuffer.Pending();
  const uint64_t size = m_outputBase + m_outputBuffer.Written();
  m_outputBuffer.Release();
  CurrentFileSystem().Close(m_outputFile);
  m_outputFile = TYPERECOVERY_INVALID_FILE;
  return size;
}

bool CTypeRecovery::DropIfOversize(uint64_t size) {
  if (m_host == nullptr || size <= m_host->m_restrictedSize) return false;
  CurrentFileSystem().DeleteFile(m_outputPath);
  TellFileClosed(TYPERECOVERY_FILE_OVERSIZE, m_outputPath, size);
  return true;
}

void CTypeRecovery::CloseOutputFile() {
  if (m_outputFile == TYPERECOVERY_INVALID_FILE) return;
  const uint64_t size = CloseOutputHandle();
  if (!DropIfOversize(size)) TellFileClosed(TYPERECOVERY_FILE_KEPT, m_outputPath, size);
}

bool CTypeRecovery::AdoptOutputFile(TypeRecoveryFile file, const char16_t* relativePath) {
  if (!HasOutputPath() || m_fileInProgress == 0 || HasOpenOutputFile() || relativePath == nullptr ||
      file == TYPERECOVERY_INVALID_FILE) {
    return false;
  }
  m_outputPath[m_rootLength] = 0;
  if (relativePath[0] == 0 || Append(m_outputPath, m_rootLength, relativePath) == 0) {
    m_outputPath[m_rootLength] = 0;
    return false;
  }
  m_outputFile = file;
  m_outputBase = 0;
  CurrentFileSystem().SizeOf(file, &m_outputBase);  // the host put it at its end
  m_endNoted = false;
  m_endHasPicture = false;
  return true;
}

void CTypeRecovery::RemoveEmptyFolders() {
  if (!HasOutputPath() || m_outputFile != TYPERECOVERY_INVALID_FILE) return;
  typerecovery::FileSystem& fs = CurrentFileSystem();
  for (uint32_t thousand = 0; thousand <= m_fileCounter / 1000; ++thousand) {
    if (WriteFolderName(m_outputPath, m_rootLength, thousand * 1000) == 0) break;
    fs.RemoveEmptyFolder(m_outputPath);
  }
  m_outputPath[m_rootLength] = 0;  // the root alone again, as clones take it
}

void CTypeRecovery::CloseAndRenameOutputFile() {
  if (m_outputFile == TYPERECOVERY_INVALID_FILE) return;
  const uint64_t size = CloseOutputHandle();
  if (DropIfOversize(size)) return;
  typerecovery::FileSystem& fs = CurrentFileSystem();
  bool told = false;
  char16_t* wanted = static_cast<char16_t*>(std::malloc(kPathUnits * sizeof(char16_t)));
  if (wanted != nullptr) {
    for (uint32_t i = 0; i < m_rootLength; ++i) wanted[i] = m_outputPath[i];
    wanted[m_rootLength] = 0;
    const uint32_t number = m_fileCounter - 1;  // the number the file was given
    uint32_t folderEnd = WriteFolderName(wanted, m_rootLength, number);
    if (folderEnd != 0) folderEnd = Append(wanted, folderEnd, u"\\");
    if (folderEnd != 0 && WriteFileName(wanted, folderEnd, number) != 0 &&
        !EqualIgnoringCase(wanted, m_outputPath)) {
      // The first free number from the file's own on; the folder is made
      // at the first miss only.
      using Failure = typerecovery::FileSystem::CreateFailure;
      int foldersMade = 0;
      for (uint32_t k = number;;) {
        Failure why = Failure::kNone;
        if (fs.MoveToNew(m_outputPath, wanted, &why)) {
          TellFileClosed(TYPERECOVERY_FILE_KEPT, wanted, size);
          told = true;
          break;
        }
        if (why == Failure::kNoFolder && MakeFolderOf(wanted, folderEnd, &foldersMade)) continue;
        if (why != Failure::kExists || WriteFileName(wanted, folderEnd, ++k) == 0) break;
      }
    }
    std::free(wanted);
  }
  if (!told) TellFileClosed(TYPERECOVERY_FILE_KEPT, m_outputPath, size);
}

void CTypeRecovery::DiscardOutputFile() {
  if (m_outputFile != TYPERECOVERY_INVALID_FILE) {
    const uint64_t size = m_outputBase + m_outputBuffer.Written();
    m_outputBuffer.Release();  // the file goes: its unwritten bytes too
    typerecovery::FileSystem& fs = CurrentFileSystem();
    fs.Close(m_outputFile);
    m_outputFile = TYPERECOVERY_INVALID_FILE;
    fs.DeleteFile(m_outputPath);
    TellFileClosed(TYPERECOVERY_FILE_DISCARDED, m_outputPath, size);
    --m_fileCounter;
  }
  m_fileInProgress = 0;
}
