// Compound document: a 512-byte header (signature, class ID, versions, byte
// order, sector and mini-sector shifts, FAT sector count ...), then sectors.
// The sub-type is read from the names of the file's streams, which appear in
// its directory sectors as UTF-16 text, or from application signatures in its
// stream data.
#include "formats/document/OLE2.h"

#include <algorithm>

#include "framework/PairSet.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kMinimumLength = 33;
constexpr uint64_t kClassIdAt = 8;  // 8 bytes of the 16-byte class ID, zero in a file
constexpr uint64_t kSectorShiftAt = 30;
constexpr uint64_t kMiniSectorShiftAt = 32;
constexpr uint64_t kFatSectorCountAt = 44;
constexpr uint64_t kFatSectorListAt = 76;  // the first 109 FAT sector numbers
constexpr uint32_t kFreeSector = 0xFFFFFFFF;

// Rows in flag order; the last is the generic type.
const uint32_t kCodes[21] = {260,  261,  262, 1547, 274, 275,  277,  1550, 264,  265, 1552,
                             1040, 1553, 266, 1555, 279, 2325, 2326, 2330, 1569, 2305};
const char16_t* const kExtensions[21] = {
    u"doc", u"xls", u"ppt", u"max", u"qpw", u"shw", u"p65", u"dgn", u"vsd",    u"pub", u"jnb",
    u"fla", u"dcd", u"mpp", u"tcw", u"rpt", u"msi", u"msp", u"db",  u"sldprt", u"ole2"};
constexpr size_t kFlashRow = 11;
constexpr size_t kInstallerRow = 16;
constexpr size_t kPatchRow = 17;
constexpr size_t kMessageDatabaseRow = 18;
// The root storage's directory entry: its name, and 80 bytes in its class
// ID. Installer databases give it {000C1084-0000-0000-C000-000000000046},
// patches {000C1086-...}, whatever tables they hold (msitools' wixl writes
// no "_Validation" table).
constexpr uint64_t kEntryClassIdAt = 80;
const char16_t kRootEntryName[] = u"Root Entry";
const uint8_t kInstallerClassIdTail[15] = {0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint8_t kInstallerClassIdFirst = 0x84;
constexpr uint8_t kPatchClassIdFirst = 0x86;

// A name as it stands in the data: UTF-16LE units or ASCII bytes, then zeros.
struct StreamName {
  size_t row;
  const char16_t* wide;
  const char* narrow;
  uint8_t zeros;

  uint8_t FirstByte() const {
    return wide != nullptr ? static_cast<uint8_t>(wide[0] & 0xFF) : static_cast<uint8_t>(narrow[0]);
  }
  bool Matches(const ByteView& v, uint64_t p) const {
    uint64_t at = p;
    if (wide != nullptr) {
      for (const char16_t* c = wide; *c != 0; ++c, at += 2) {
        if (!v.Has(at, 2) || v.data[at] != (*c & 0xFF) || v.data[at + 1] != (*c >> 8)) return false;
      }
    } else {
      for (const char* c = narrow; *c != 0; ++c, ++at) {
        if (!v.Has(at, 1) || v.data[at] != static_cast<uint8_t>(*c)) return false;
      }
    }
    if (!v.Has(at, zeros)) return false;
    for (uint8_t i = 0; i < zeros; ++i) {
      if (v.data[at + i] != 0) return false;
    }
    return true;
  }
};

// In the order they are tried at one position; the first match decides.
const StreamName kNames[] = {
    {0, u"WordDocument", nullptr, 0},
    {1, u"Workbook", nullptr, 0},
    {2, u"PowerPoint Document", nullptr, 0},
    {3, u"Scene", nullptr, 0},
    {4, u"NativeContent_MAIN", nullptr, 4},
    {5, u"PerfectOffice_MAIN", nullptr, 4},
    {6, u"PageMaker", nullptr, 6},
    {7, u"Dgn~H", nullptr, 30},
    {8, u"VisioDocument", nullptr, 14},
    {9, nullptr, "Microsoft Publisher ", 0},
    {10, u"JNBVersion", nullptr, 20},
    {12, nullptr, "DesignCAD", 0},
    {13, nullptr, "Microsoft Project", 0},
    {14, nullptr, "TurboCAD for Windows", 0},
    {15, u"Crystal Reports", nullptr, 0},
    {kFlashRow, nullptr, "CPicPage", 0},  // a symbol page: "C" 16 and 33 bytes on
    // The installer's "_Validation" table and the patch's "_MsiPatchMetadata"
    // table, as their streams are named in the packed table-name encoding.
    {16, u"\x4840\x3FFF\x43E4\x41EC\x45E4\x44AC\x4831", nullptr, 26},
    {17, u"\x4840\x4596\x3E6C\x45E4\x42E6\x4216\x4137\x4127\x4137", nullptr, 22},
    {19, u"ISolidWorksInformation", nullptr, 2},
};
constexpr uint64_t kFlashMarkAt1 = 16;
constexpr uint64_t kFlashMarkAt2 = 33;

// A message database shows all six of these names; each clears its bit.
struct DatabaseName {
  const char16_t* name;
  uint8_t bit;
};
const DatabaseName kDatabaseNames[] = {
    {u"buddy", 0x80},      {u"group", 0x40},       {u"system", 0x20},
    {u"Matrix.dat", 0x10}, {u"seqbase.dat", 0x08}, {u"lastmsginfo.dat", 0x04},
};
constexpr uint8_t kAllDatabaseNames = 0xFC;

// A position is scanned only while this many bytes beyond it are readable.
constexpr uint32_t kScanReach = 40;

// The first two bytes of every name (the root entry's too); and by first
// byte, the names and the database names that begin with it, in list order.
struct FirstPairs {
  static constexpr size_t kPerByte = 4;
  PairSet any;
  const StreamName* names[256][kPerByte] = {};
  const DatabaseName* databases[256][kPerByte] = {};
  FirstPairs() {
    for (const StreamName& n : kNames) {
      if (n.wide != nullptr) {
        any.Add(static_cast<uint8_t>(n.wide[0] & 0xFF), static_cast<uint8_t>(n.wide[0] >> 8));
      } else {
        any.Add(static_cast<uint8_t>(n.narrow[0]), static_cast<uint8_t>(n.narrow[1]));
      }
      Append(names[n.FirstByte()], &n);
    }
    for (const DatabaseName& d : kDatabaseNames) {
      any.Add(static_cast<uint8_t>(d.name[0] & 0xFF), static_cast<uint8_t>(d.name[0] >> 8));
      Append(databases[d.name[0] & 0xFF], &d);
    }
    any.Add(static_cast<uint8_t>(kRootEntryName[0]), 0);
  }
  template <class T>
  static void Append(const T* (&list)[kPerByte], const T* item) {
    size_t i = 0;
    while (list[i] != nullptr) ++i;
    list[i] = item;  // at most three names share a first byte
  }
};
const FirstPairs kFirstPairs;

bool MatchesWide(const ByteView& v, uint64_t p, const char16_t* name) {
  return StreamName{0, name, nullptr, 0}.Matches(v, p);
}

// The FAT's addressable capacity: FAT sectors x (sector size / 4) x sector size.
uint64_t HeaderSize(const ByteView& header) {
  const uint16_t shift = ReadU16LE(header, kSectorShiftAt);
  const uint64_t sectorSize = shift < 64 ? uint64_t{1} << shift : 0;
  return uint64_t{ReadU32LE(header, kFatSectorCountAt)} * (sectorSize / 4) * sectorSize;
}

// Rows 1, 4, 3, 2, then 5 to 20 (zero-based here).
const uint8_t kFolderFetchOrder[20] = {0,  3,  2,  1,  4,  5,  6,  7,  8,  9,
                                       10, 11, 12, 13, 14, 15, 16, 17, 18, 19};

}  // namespace

CTypeRecoveryOLE2::CTypeRecoveryOLE2(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMultiFormatRecovery(kTypeCode, host, outputRoot, kCodes, kExtensions) {
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryOLE2::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView view(buffer, length);
  if (!BytesEqual(view, 0, kSignature, sizeof kSignature)) return 0;
  if (ReadU64LE(view, kClassIdAt) != 0) return 0;
  // The shift's high byte may lie past a 33-byte buffer; unseen, it counts as 0.
  const uint16_t miniShift = static_cast<uint16_t>(ReadU8(view, kMiniSectorShiftAt) |
                                                   (ReadU8(view, kMiniSectorShiftAt + 1) << 8));
  return miniShift != 0 ? kTypeCode : 0;
}

uint32_t CTypeRecoveryOLE2::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                    uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  uint32_t count = 0;
  const ByteView readable(buffer, uint64_t{length} + lookahead);

  // A header at the strip start ends the file in progress and begins the next.
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    m_expectedSize = m_bytesWritten;
    count += EndSubTypeFile(1);
    StartGeneric();
    BeginFile(stripPosition, errorFlag);
    m_expectedSize = HeaderSize(readable);
    m_databaseMask = kAllDatabaseNames;
    const uint16_t shift = ReadU16LE(readable, kSectorShiftAt);
    m_sectorSize = shift >= 7 && shift <= 16 ? uint64_t{1} << shift : 0;
    m_fatCount = ReadU32LE(readable, kFatSectorCountAt);
    if (m_fatCount > kListedFatSectors || m_sectorSize == 0) m_fatCount = 0;
    for (uint32_t i = 0; i < m_fatCount; ++i) m_fatSectors[i] = ReadU32LE(readable, kFatSectorListAt + 4 * i);
    m_fatBytesSeen = 0;
    m_usedSectors = 0;
    m_entrySplit.Clear();
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  // The file ends with its last used sector once the FAT is known, else
  // where its header's capacity says.
  if (m_fatCount != 0) WalkFat(buffer, length, m_bytesWritten);
  const uint64_t remaining = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
  const bool ended = remaining <= length;
  const uint32_t part = ended ? static_cast<uint32_t>(remaining) : length;
  m_bytesWritten += part;

  if (m_scanning != 0) ScanForSubType(readable, part, lookahead);
  WriteOutput(buffer, part, errorFlag);
  if (ended) count += EndSubTypeFile(1);
  return count;
}

void CTypeRecoveryOLE2::WalkFat(const uint8_t* buffer, uint32_t length, uint64_t base) {
  const uint64_t fatBytes = uint64_t{m_fatCount} * m_sectorSize;
  if (m_fatBytesSeen >= fatBytes) return;
  const uint64_t entriesPerSector = m_sectorSize / 4;
  auto note = [&](uint32_t k, uint64_t entry, uint32_t value) {
    const uint64_t sector = k * entriesPerSector + entry;
    if (value != kFreeSector && sector + 1 > m_usedSectors) m_usedSectors = static_cast<uint32_t>(sector + 1);
  };
  uint64_t lastFatEnd = 0;
  for (uint32_t k = 0; k < m_fatCount; ++k) {
    // Sector n begins at (n + 1) x sector size: the header takes the first.
    const uint64_t start = (uint64_t{m_fatSectors[k]} + 1) * m_sectorSize;
    const uint64_t end = start + m_sectorSize;
    if (end <= base || start >= base + length) continue;
    lastFatEnd = std::max(lastFatEnd, end);
    uint64_t at = std::max(start, base);
    const uint64_t to = std::min(end, base + length);
    m_fatBytesSeen += to - at;
    if ((at - start) % 4 != 0) {
      // The rest of an entry that began in the previous strip.
      const uint64_t entryStart = at - (at - start) % 4;
      const uint64_t rest = std::min(entryStart + 4, to) - at;
      m_entrySplit.Append(buffer + (at - base), rest);
      at += rest;
      if (m_entrySplit.Size() == 4) {
        note(k, (entryStart - start) / 4, ReadU32LE(m_entrySplit.View(), 0));
        m_entrySplit.Clear();
      }
    }
    for (; at + 4 <= to; at += 4) note(k, (at - start) / 4, ReadU32LE(ByteView(buffer + (at - base), 4), 0));
    if (at < to) {
      m_entrySplit.Clear();
      m_entrySplit.Append(buffer + (at - base), to - at);
    }
  }
  if (m_fatBytesSeen >= fatBytes) {
    // The header sector, then sectors 0 to the last used one (never before
    // the FAT's own end, whatever a damaged FAT says).
    const uint64_t size = std::max<uint64_t>((uint64_t{m_usedSectors} + 1) * m_sectorSize, lastFatEnd);
    m_expectedSize = std::min(m_expectedSize, size);
  }
}

void CTypeRecoveryOLE2::ScanForSubType(const ByteView& readable, uint32_t part,
                                       uint32_t lookahead) {
  // Positions p < part with p + 40 < part + lookahead.
  const uint64_t reach = uint64_t{part} + lookahead;
  uint64_t end = reach > kScanReach ? std::min<uint64_t>(part, reach - kScanReach) : 0;
  end = std::min(end, readable.size);
  // A name has at least two bytes: the last readable byte opens none.
  end = std::min(end, readable.size > 0 ? readable.size - 1 : 0);
  for (uint64_t p = 0; (p = kFirstPairs.any.Next(readable.data, p, end)) < end; ++p) {
    const uint8_t first = readable.data[p];
    for (const StreamName* const* name = kFirstPairs.names[first]; *name != nullptr; ++name) {
      if (!(*name)->Matches(readable, p)) continue;
      if ((*name)->row == kFlashRow && (ReadU8(readable, p + kFlashMarkAt1) != 'C' ||
                                        ReadU8(readable, p + kFlashMarkAt2) != 'C')) {
        continue;
      }
      DecideRow((*name)->row);
      return;
    }
    if (first == 'R' && MatchesWide(readable, p, kRootEntryName) &&
        BytesEqual(readable, p + kEntryClassIdAt + 1, kInstallerClassIdTail, sizeof kInstallerClassIdTail)) {
      const uint8_t kind = ReadU8(readable, p + kEntryClassIdAt);
      if (kind == kInstallerClassIdFirst || kind == kPatchClassIdFirst) {
        DecideRow(kind == kInstallerClassIdFirst ? kInstallerRow : kPatchRow);
        return;
      }
    }
    if (kFirstPairs.databases[first][0] != nullptr) {
      for (const DatabaseName* const* d = kFirstPairs.databases[first]; *d != nullptr; ++d) {
        if (MatchesWide(readable, p, (*d)->name)) m_databaseMask &= static_cast<uint8_t>(~(*d)->bit);
      }
      if (m_databaseMask == 0) {
        DecideRow(kMessageDatabaseRow);
        return;
      }
    }
  }
}

void CTypeRecoveryOLE2::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags())(m_scanning)(m_databaseMask).FileFields();
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) {
    RefetchFolderValuesInOrder(kFolderFetchOrder);
    m_fatCount = 0;
    m_entrySplit.Clear();
  }
  record(m_sectorSize)(m_fatCount)(m_fatBytesSeen)(m_usedSectors).Nested(m_entrySplit);
  if (record.Loading() && (!record.Ok() || m_fatCount > kListedFatSectors)) {
    m_fatCount = 0;
    record.Fail();
  }
  for (uint32_t i = 0; i < m_fatCount; ++i) record(m_fatSectors[i]);
}

TYPERECOVERY_FORMAT(CTypeRecoveryOLE2,
    {2305, 260, 261, 262, 1547, 274, 275, 277, 1550, 264, 265, 1552, 1553, 266, 1555, 279, 2325,
    2326, 2330, 1569},
    u".ole2;.doc;.wps;.xls;.et;.ppt;.pps;.dps;.max;.qpw;.shw;.p65;.dgn;.vsd;.pub;.jnb;.dcd;.mpp;"
    u".tcw;.rpt;.msi;.msp;.db;.sldprt",
    {u"ole2", u"doc", u"xls", u"ppt", u"vsd", u"pub", u"qpw", u"shw", u"p65", u"dgn", u"jnb",
    u"dcd", u"mpp", u"tcw", u"rpt", u"pps", u"msi", u"msp", u"db", u"sldprt", u"max", u"fla"})
