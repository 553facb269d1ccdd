// ASF recognizer: Header Object walk, File Size, sub-type choice and
// renaming close.
#include "formats/media/WMV.h"

#include <cstring>

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

// ASF Header Object: GUID, 64-bit size, 32-bit number of header objects,
// two reserved bytes; the objects follow at 30.
const uint8_t kHeaderObjectGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// 8CABDCA1-A947-11CF-8EE4-00C00C205365
const uint8_t kFilePropertiesGuid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// B7DC0791-A9B7-11CF-8EE6-00C00C205365
const uint8_t kStreamPropertiesGuid[] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// BC19EFC0-5B4D-11CF-A8FD-00805F5C442B
const uint8_t kVideoMediaGuid[] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                   0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

constexpr uint32_t kMinimumLength = 65;
constexpr uint64_t kObjectSizeAt = 16;
constexpr uint64_t kHeaderObjectCountAt = 24;
constexpr uint64_t kMaxHeaderSize = 0x100000;
constexpr uint32_t kMaxHeaderObjects = 4096;
constexpr uint32_t kFirstHeaderObject = 30;
constexpr uint64_t kFileSizeAt = 40;    // in the File Properties Object
constexpr uint64_t kStreamTypeAt = 24;  // in the Stream Properties Object
constexpr uint64_t kObjectHeaderBytes = 24;

CMediaStripCycle::Rules AsfRules() {
  CMediaStripCycle::Rules rules;
  rules.cutComplete = 1;
  rules.sizeIsBytesTaken = false;
  return rules;
}

}  // namespace

constexpr uint32_t CTypeRecoveryWMV::kSubTypeCodes[];

namespace {
const char16_t* const kSubTypeExtensions[] = {u"wma", u"wmv"};
}  // namespace

CTypeRecoveryWMV::CTypeRecoveryWMV(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kSubTypeCodes, kSubTypeExtensions, kWmv, kTypeCode, host, outputRoot,
                    AsfRules()) {
  std::memcpy(m_filePropertiesGuid, kFilePropertiesGuid, kGuidBytes);
  std::memcpy(m_streamPropertiesGuid, kStreamPropertiesGuid, kGuidBytes);
  std::memcpy(m_videoMediaGuid, kVideoMediaGuid, kGuidBytes);
  SetExtension(u"wmv");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryWMV::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, kHeaderObjectGuid, sizeof kHeaderObjectGuid)) return 0;
  if (ReadU64LE(header, kObjectSizeAt) >= kMaxHeaderSize) return 0;
  return ReadU32LE(header, kHeaderObjectCountAt) < kMaxHeaderObjects ? kTypeCode : 0;
}

void CTypeRecoveryWMV::DropUnwantedVideo() {
  if (!m_subTypes.IsOn(kWmv) && m_subTypes.current == kWmv) DiscardOutputFile();
}

bool CTypeRecoveryWMV::StartFile(const Strip& strip) {
  SetExtension(u"wmv");
  m_subTypes.current = kWmv;
  m_headerSize = static_cast<uint32_t>(ReadU64LE(strip.readable, kObjectSizeAt));
  m_headerCursor = kFirstHeaderObject;
  m_videoSeen = 0;
  return true;  // the size is not known yet (expected size 0)
}

bool CTypeRecoveryWMV::WalkHeaderObjects(const Strip& strip) {
  while (m_bytesWritten < m_headerSize && m_headerCursor >= m_bytesWritten &&
         m_headerCursor - m_bytesWritten < strip.length) {
    if (m_headerCursor >= m_headerSize) break;
    const uint64_t p = m_headerCursor - m_bytesWritten;
    // An object header beyond the readable bytes cannot be judged: the walk
    // stops, and the file is then ended by its File Size if that was met.
    if (!strip.readable.Has(p, kObjectHeaderBytes)) break;
    if (BytesEqual(strip.readable, p, m_filePropertiesGuid, kGuidBytes)) {
      if (!strip.readable.Has(p + kFileSizeAt, 8)) break;
      m_expectedSize = ReadU64LE(strip.readable, p + kFileSizeAt);
    } else if (BytesEqual(strip.readable, p, m_streamPropertiesGuid, kGuidBytes) &&
               BytesEqual(strip.readable, p + kStreamTypeAt, m_videoMediaGuid, kGuidBytes)) {
      m_videoSeen = 1;
      if (!m_subTypes.IsOn(kWmv)) {
        DiscardOutputFile();
        return false;
      }
      SetExtension(u"wmv");
      m_subTypes.current = kWmv;
    }
    const uint64_t size = ReadU64LE(strip.readable, p + kObjectSizeAt);
    const uint64_t next = m_headerCursor + size;
    if (size == 0 || next > 0xFFFFFFFFu || next > m_headerSize) {
      DiscardOutputFile();  // the objects do not add up to the header
      return false;
    }
    m_headerCursor = static_cast<uint32_t>(next);
  }
  if (m_headerCursor > m_headerSize) {
    DiscardOutputFile();  // a header too small for its own fixed part
    return false;
  }
  if (m_headerCursor == m_headerSize) {
    if (m_expectedSize == 0) {
      DiscardOutputFile();  // no File Properties Object, or a File Size of 0
      return false;
    }
    if (m_videoSeen == 0) {
      if (!m_subTypes.IsOn(kWma)) {
        DiscardOutputFile();
        return false;
      }
      SetExtension(u"wma");
      m_subTypes.current = kWma;
    }
  }
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryWMV::WalkStrip(const Strip& strip) {
  if (m_fileInProgress != 0 && !WalkHeaderObjects(strip)) return Walk::EndAt(0);
  if (m_expectedSize != 0 && m_bytesWritten + strip.length >= m_expectedSize) {
    const uint64_t rest = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
    return Walk::EndAt(static_cast<uint32_t>(rest));
  }
  return Walk::WholeStrip(strip);
}

void CTypeRecoveryWMV::BeforeEnd() {
  m_reportingEnd = true;
  // A file whose header was never judged stays a video; unwanted, it goes.
  DropUnwantedVideo();
}

void CTypeRecoveryWMV::ReportEndedFile(uint32_t complete) {
  // The natural end turns to the host whenever one exists: in folder mode
  // the missing callback answers 0.
  const bool atEnd = m_reportingEnd;
  m_reportingEnd = false;
  ReportFileTo(FileTypeFolderValue(), complete, nullptr, atEnd);
}

void CTypeRecoveryWMV::CloseOutputFile() {
  m_reportingEnd = false;
  CloseAndRenameOutputFile();
}

void CTypeRecoveryWMV::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags()).FileFields()(m_headerCursor)(m_headerSize).Flag(m_videoSeen);
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) RefetchFolderValues();
}

TYPERECOVERY_FORMAT(CTypeRecoveryWMV, {1027, 772}, u".wmv;.asf;.wma", {u"wmv", u"wma"})
