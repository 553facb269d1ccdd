// Base recognizer: construction, clone state, the shared strip-cycle steps,
// FinishFile, held blocks and the base progress record.
#include "framework/TypeRecovery.h"

#include <cstdlib>
#include <cstring>

#include "containers/Items.h"
#include "interface/Manager.h"
#include "platform/FileSystem.h"

using typerecovery::CurrentFileSystem;

CTypeRecovery::CTypeRecovery(uint32_t typeCode, CTypeRecoveryManager* host,
                             const char16_t* outputRoot)
    : m_typeCode(typeCode),
      m_extension{},
      m_host(host),
      m_outputPath(nullptr),
      m_rootLength(0),
      m_outputFile(TYPERECOVERY_INVALID_FILE),
      m_fileStart(0),
      m_expectedSize(0),
      m_maxFileSize(kNoLimit),
      m_bytesWritten(0),
      m_fileInProgress(0),
      m_typePropertyFlag(1),
      m_fileCounter(0),
      m_typeFolderValue(0),
      m_prototype(nullptr) {
  if (outputRoot == nullptr || outputRoot[0] == 0) return;
  m_outputPath = static_cast<char16_t*>(std::malloc(kPathUnits * sizeof(char16_t)));
  if (m_outputPath == nullptr) return;
  uint32_t n = 0;
  while (n < kPathUnits && outputRoot[n] != 0) {
    m_outputPath[n] = outputRoot[n];
    ++n;
  }
  if (n == kPathUnits) n = kPathUnits - 1;
  m_outputPath[n] = 0;
  m_outputPath[kPathUnits - 1] = 0;
  m_rootLength = n;
  if (n != 0 && m_outputPath[n - 1] != u'\\' && n + 1 < kPathUnits) {
    m_outputPath[n] = u'\\';
    m_outputPath[n + 1] = 0;
    ++m_rootLength;
  }
}

CTypeRecovery::~CTypeRecovery() {
  // A handle still open here (an active destroyed without a flush) is
  // released; the file keeps what was written.
  if (m_outputFile != TYPERECOVERY_INVALID_FILE) CloseOutputHandle();
  std::free(m_outputPath);
  m_outputPath = nullptr;
  FreeHeldBlocks();
}

void CTypeRecovery::HandBackToPrototype() {
  if (m_prototype == nullptr) return;
  if (m_fileCounter > m_prototype->m_fileCounter) m_prototype->m_fileCounter = m_fileCounter;
  m_prototype->m_typeFolderValue = m_typeFolderValue;
}

void CTypeRecovery::SetExtension(const char16_t* extension) {
  uint32_t i = 0;
  for (; i + 1 < kExtensionUnits && extension[i] != 0; ++i) m_extension[i] = extension[i];
  m_extension[i] = 0;
}

void CTypeRecovery::CopyStateFrom(const CTypeRecovery* prototype) {
  m_maxFileSize = prototype->m_maxFileSize;
  m_fileCounter = prototype->m_fileCounter;
  m_typeFolderValue = prototype->m_typeFolderValue;
  m_prototype = const_cast<CTypeRecovery*>(prototype);
}

bool CTypeRecovery::EnableSubType(uint32_t, uint64_t) { return false; }
void CTypeRecovery::EnableAllSubTypes(uint32_t) {}

void CTypeRecovery::BeginFile(uint64_t stripPosition, uint32_t* errorFlag) {
  m_fileInProgress = 1;
  m_fileStart = stripPosition;
  m_bytesWritten = 0;
  m_expectedSize = 0;
  if (HasOutputPath() && CreateOutputFile(&m_fileCounter) == 0 && errorFlag != nullptr) {
    *errorFlag = 1;
  }
}

void CTypeRecovery::WriteOutput(const uint8_t* data, uint32_t count, uint32_t* errorFlag) {
  if (m_outputFile == TYPERECOVERY_INVALID_FILE || count == 0) return;
  typerecovery::OutputBufferPool* pool = m_host != nullptr ? &m_host->m_outputBuffers : nullptr;
  if (!m_outputBuffer.Write(m_outputFile, pool, data, count) && errorFlag != nullptr) *errorFlag = 1;
}

bool CTypeRecovery::FlushOutput() {
  return m_outputFile == TYPERECOVERY_INVALID_FILE || m_outputBuffer.Flush(m_outputFile);
}

void CTypeRecovery::TakeBytes(const uint8_t* data, uint32_t count, uint32_t* errorFlag) {
  m_bytesWritten += count;
  WriteOutput(data, count, errorFlag);
}

bool CTypeRecovery::WantsClosedFileRecord() const {
  return m_host != nullptr && m_host->m_fileClosed != nullptr && HasOutputPath();
}

void CTypeRecovery::NoteFileEnd(uint32_t complete, const tag_PictureInfo* picture) {
  if (!WantsClosedFileRecord()) return;
  m_endNoted = true;
  m_endComplete = complete;
  m_endExpectedSize = m_expectedSize;
  m_endHasPicture = picture != nullptr && picture->size == sizeof(tag_PictureInfo);
  if (m_endHasPicture) m_endPicture = *picture;
}

void CTypeRecovery::ReportFileTo(uint32_t* folder, uint32_t complete,
                                 const tag_PictureInfo* picture, bool anyMode) {
  if (m_host == nullptr) return;
  NoteFileEnd(complete, picture);
  if (!IsReportMode()) {
    if (!anyMode) return;
    picture = nullptr;
  }
  *folder = ReportToHost(*folder, complete, picture);
}

uint32_t CTypeRecovery::ReportToHost(uint32_t folder, uint32_t complete,
                                     const tag_PictureInfo* picture) {
  return m_host->ReportFoundFile(folder, &m_fileCounter, m_extension, m_fileStart, m_expectedSize,
                                 complete, picture);
}

bool CTypeRecovery::AskFolderValue(const char16_t* extension, uint32_t* value) const {
  if (m_host == nullptr) return false;
  bool has = false;
  const uint32_t answer = m_host->AskTypeFolderId(extension, &has);
  if (has) *value = answer;
  return has;
}

uint32_t CTypeRecovery::EndFile(uint32_t complete, const tag_PictureInfo* picture, bool anyMode) {
  const uint32_t ended = m_fileInProgress != 0 ? 1 : 0;
  if (ended != 0) ReportFile(complete, picture, anyMode);
  m_fileInProgress = 0;
  CloseOutputFile();
  return ended;
}

uint32_t CTypeRecovery::EndOfStrip(bool ended, uint32_t complete) {
  if (m_bytesWritten >= m_maxFileSize) {
    m_expectedSize = m_bytesWritten;
    complete = 0;
    ended = true;
  }
  return ended ? EndFile(complete) : 0;
}

uint32_t CTypeRecovery::CutAtNewHeader(uint32_t complete) {
  if (m_fileInProgress == 0) {
    CloseOutputFile();
    return 0;
  }
  m_expectedSize = m_bytesWritten;
  return EndFile(complete);
}

uint32_t CTypeRecovery::FinishFile() {
  const uint32_t result = (m_fileInProgress != 0 || HasOpenOutputFile()) ? 1 : 0;
  if (m_fileInProgress != 0) ReportFile(0, nullptr, true);
  CloseOutputFile();
  m_fileInProgress = 0;
  m_expectedSize = 0;
  m_outputFile = TYPERECOVERY_INVALID_FILE;
  return result;
}

void CTypeRecovery::HoldBlock(const uint8_t* data, uint32_t length) {
  if (length == 0) return;
  unsigned char* copy = static_cast<unsigned char*>(std::malloc(length));
  if (copy == nullptr) return;
  std::memcpy(copy, data, length);
  tag_RAMData block{copy, length};
  if (m_heldBlocks.Add(block) < 0) std::free(copy);
}

void CTypeRecovery::FreeHeldBlocks() {
  tag_RAMData* const blocks = typerecovery::ItemsOf(m_heldBlocks);
  for (long i = 0; i < m_heldBlocks.GetCount(); ++i) std::free(blocks[i].data);
  m_heldBlocks.RemoveAll();
}

bool CTypeRecovery::WriteU32(TypeRecoveryFile file, uint32_t value) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return typerecovery::WriteAll(file, bytes, 4);
}

bool CTypeRecovery::WriteU64(TypeRecoveryFile file, uint64_t value) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return typerecovery::WriteAll(file, bytes, 8);
}

bool CTypeRecovery::ReadU32(TypeRecoveryFile file, uint32_t* value) {
  uint8_t bytes[4];
  if (!typerecovery::ReadAll(file, bytes, 4)) return false;
  *value = typerecovery::ReadU32LE(typerecovery::ByteView(bytes, 4), 0);
  return true;
}

bool CTypeRecovery::ReadU64(TypeRecoveryFile file, uint64_t* value) {
  uint8_t bytes[8];
  if (!typerecovery::ReadAll(file, bytes, 8)) return false;
  *value = typerecovery::ReadU64LE(typerecovery::ByteView(bytes, 8), 0);
  return true;
}

uint32_t CTypeRecovery::SaveProgress(TypeRecoveryFile file) {
  if (!WriteU32(file, m_typeCode) || !WriteU32(file, m_fileInProgress) ||
      !WriteU64(file, m_maxFileSize) || !WriteU32(file, m_fileCounter)) {
    return 0;
  }
  if (m_fileInProgress != 0) {
    uint8_t extension[2 * kExtensionUnits];
    for (uint32_t i = 0; i < kExtensionUnits; ++i) {
      extension[2 * i] = static_cast<uint8_t>(m_extension[i]);
      extension[2 * i + 1] = static_cast<uint8_t>(m_extension[i] >> 8);
    }
    if (!WriteU64(file, m_fileStart) || !WriteU64(file, m_expectedSize) ||
        !WriteU64(file, m_bytesWritten) ||
        !typerecovery::WriteAll(file, extension, sizeof extension)) {
      return 0;
    }
  }
  typerecovery::ProgressRecord record(file, true, m_fileInProgress != 0);
  ProgressFields(record);
  return record.Ok() ? 1 : 0;
}

uint32_t CTypeRecovery::LoadProgress(TypeRecoveryFile file) {
  if (!ReadU32(file, &m_fileInProgress) || !ReadU64(file, &m_maxFileSize) ||
      !ReadU32(file, &m_fileCounter)) {
    return 0;
  }
  AskFolderValue(m_extension, &m_typeFolderValue);
  if (m_fileInProgress != 0) {
    uint8_t extension[2 * kExtensionUnits];
    if (!ReadU64(file, &m_fileStart) || !ReadU64(file, &m_expectedSize) ||
        !ReadU64(file, &m_bytesWritten) ||
        !typerecovery::ReadAll(file, extension, sizeof extension)) {
      return 0;
    }
    for (uint32_t i = 0; i < kExtensionUnits; ++i) {
      m_extension[i] = static_cast<char16_t>(extension[2 * i] | (extension[2 * i + 1] << 8));
    }
    m_extension[kExtensionUnits - 1] = 0;  // a hostile record must not unterminate it
  }
  typerecovery::ProgressRecord record(file, false, m_fileInProgress != 0);
  ProgressFields(record);
  return record.Ok() ? 1 : 0;
}
