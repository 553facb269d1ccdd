// ASF recognizer: the header test, the Header Object walk, the File Size,
// the two sub-types with their enable flags, and the progress record.
#include "formats/media/WMV.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kWMV = 1027, kWMA = 772;

const std::vector<uint8_t> kHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::vector<uint8_t> kFilePropertiesGuid = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::vector<uint8_t> kStreamPropertiesGuid = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::vector<uint8_t> kVideoGuid = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                         0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const std::vector<uint8_t> kAudioGuid = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                         0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

Bytes FileProperties(uint64_t fileSize) {
  Bytes b;
  return b.Raw(kFilePropertiesGuid).U64LE(104).Fill(16, 0x3C).U64LE(fileSize).PadTo(104, 0x01);
}

Bytes StreamProperties(const std::vector<uint8_t>& type) {
  Bytes b;
  return b.Raw(kStreamPropertiesGuid).U64LE(90).Raw(type).PadTo(90, 0x02);
}

// An ASF file: the Header Object holding the objects given (plus `extra`
// bytes added to its size), then data up to total bytes.
std::vector<uint8_t> Asf(const std::vector<Bytes>& objects, size_t total, int64_t extra = 0) {
  uint64_t size = 30;
  for (const Bytes& o : objects) size += o.size();
  Bytes b;
  b.Raw(kHeaderGuid).U64LE(size + extra).U32LE(static_cast<uint32_t>(objects.size())).U8(1).U8(2);
  for (const Bytes& o : objects) b.Raw(o);
  return b.PadTo(total, 0x5D);
}

TEST(Wmv, HeaderTestNeeds65BytesASmallHeaderAndFewObjects) {
  CTypeRecoveryWMV wmv(nullptr, nullptr);
  std::vector<uint8_t> header = Asf({FileProperties(1000)}, 65);
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), kWMV);
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 64, 0), 0u);
  header[16] = 0x00, header[17] = 0x00, header[18] = 0x10;  // size 1048576
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), 0u);
  header[16] = 0xFF, header[17] = 0xFF, header[18] = 0x0F;  // 1048575
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), kWMV);
  header[20] = 1;  // upper half of the size not zero
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), 0u);
  header[20] = 0;
  header[24] = 0x00, header[25] = 0x10;  // 4096 header objects
  EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), 0u);
}

TEST(Wmv, AudioFileOfFileSize500000IsAWmaOfExactlyThatSize) {
  const std::vector<uint8_t> file =
      Asf({FileProperties(500000), StreamProperties(kAudioGuid)}, 600000);
  Scan scan({kWMA});
  EXPECT_EQ(scan.Feed(file, 4096, 512), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].extension, "wma");
  EXPECT_EQ(scan.log.reports[0].size, 500000u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);

  trtest::TempDir dir;
  {
    Scan folder({kWMA}, &dir);
    folder.Feed(file, 4096, 512);
  }
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"wma/00000.wma"});  // wmv folder removed
  EXPECT_EQ(dir.Read("wma/00000.wma"),
            std::vector<uint8_t>(file.begin(), file.begin() + 500000));
}

TEST(Wmv, SubTypesThatAreNotEnabledLeaveNoFile) {
  struct Case { const char* what; std::vector<uint8_t> stream; uint32_t enabled; };
  for (const Case& c : {Case{"audio, WMV only", kAudioGuid, kWMV},
                        Case{"video, WMA only", kVideoGuid, kWMA}}) {
    const std::vector<uint8_t> file = Asf({FileProperties(5000), StreamProperties(c.stream)}, 8192);
    trtest::TempDir dir;
    {
      Scan folder({c.enabled}, &dir);
      folder.Feed(file, 512, 512);
    }
    EXPECT_TRUE(dir.Files().empty()) << c.what;
    Scan scan({c.enabled});
    scan.Feed(file, 512, 512);
    EXPECT_TRUE(scan.log.reports.empty()) << c.what;
  }
}

TEST(Wmv, BrokenOrSizelessHeadersLeaveNoFile) {
  const std::vector<std::vector<uint8_t>> broken = {
      // the last object runs past the header size
      Asf({FileProperties(3000), StreamProperties(kVideoGuid)}, 4096, -4),
      // the objects end short of the header size, and a zero size follows
      Asf({FileProperties(3000), StreamProperties(kVideoGuid)}, 4096, 40),
      // no File Properties Object
      Asf({StreamProperties(kVideoGuid)}, 4096),
      // a File Size of 0
      Asf({FileProperties(0), StreamProperties(kVideoGuid)}, 4096),
  };
  for (size_t i = 0; i < broken.size(); ++i) {
    trtest::TempDir dir;
    {
      Scan folder({kWMA, kWMV}, &dir);
      folder.Feed(broken[i], 512, 512);
    }
    EXPECT_TRUE(dir.Files().empty()) << i;
  }
}

TEST(Wmv, HeaderObjectsAreWalkedAcrossStrips) {
  // Padding objects push the File Properties Object into the third strip.
  Bytes padding1, padding2;
  padding1.Fill(16, 0xAB).U64LE(600).PadTo(600, 0x03);
  padding2.Fill(16, 0xAC).U64LE(500).PadTo(500, 0x04);
  const std::vector<uint8_t> file =
      Asf({padding1, padding2, StreamProperties(kAudioGuid), FileProperties(2345)}, 4096);
  Scan scan({kWMA});
  scan.Feed(file, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].extension, "wma");
  EXPECT_EQ(scan.log.reports[0].size, 2345u);
}

TEST(Wmv, NewHeaderCutsTheFileReportedComplete) {
  Bytes image;
  image.Raw(Asf({FileProperties(100000), StreamProperties(kVideoGuid)}, 1024));
  image.Raw(Asf({FileProperties(700), StreamProperties(kVideoGuid)}, 1024));
  Scan scan({kWMV});
  EXPECT_EQ(scan.Feed(image, 512, 512), 2u);
  ASSERT_EQ(scan.log.reports.size(), 2u);
  EXPECT_EQ(scan.log.reports[0].size, 1024u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
  EXPECT_EQ(scan.log.reports[1].start, 1024u);
  EXPECT_EQ(scan.log.reports[1].size, 700u);
}

TEST(Wmv, ProgressRecordCarriesTheHeaderWalkAndSubType) {
  Bytes padding;
  padding.Fill(16, 0xAB).U64LE(700).PadTo(700, 0x03);
  const std::vector<uint8_t> file =
      Asf({padding, FileProperties(3000), StreamProperties(kAudioGuid)}, 4096);
  for (size_t stop : {512u, 1024u}) {  // in the header walk, after it
    const auto reports = trtest::ResumedRun({kWMA, kWMV}, file, 512, 64, stop);
    ASSERT_EQ(reports.size(), 1u) << stop;
    EXPECT_EQ(reports[0].extension, "wma") << stop;
    EXPECT_EQ(reports[0].size, 3000u) << stop;
    EXPECT_EQ(reports[0].complete, 1u) << stop;
  }
}

}  // namespace
