// Sizes, texts and the progress line: the small pieces every message uses.
#include <gtest/gtest.h>

#include "ProgressMeter.h"
#include "Sizes.h"
#include "Text.h"

using namespace trcli;

TEST(CliSizes, SuffixesAreBinaryAndOverflowIsRefused) {
  EXPECT_EQ(ParseSize("512"), 512u);
  EXPECT_EQ(ParseSize("4K"), 4096u);
  EXPECT_EQ(ParseSize("16m"), 16u << 20);
  EXPECT_EQ(ParseSize("2GiB"), 2ull << 30);
  EXPECT_EQ(ParseSize("1T"), 1ull << 40);
  EXPECT_EQ(ParseSize("0x200"), 512u);
  EXPECT_FALSE(ParseSize(""));
  EXPECT_FALSE(ParseSize("K"));
  EXPECT_FALSE(ParseSize("-1"));
  EXPECT_FALSE(ParseSize("12Q"));
  EXPECT_FALSE(ParseSize("1.5M"));
  EXPECT_FALSE(ParseSize("99999999999999999999"));
  EXPECT_FALSE(ParseSize("20000000T"));
}

TEST(CliSizes, HumanReadableBytesAndDurations) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1536), "1.50 KiB");
  EXPECT_EQ(FormatBytes(64ull << 20), "64.0 MiB");
  EXPECT_EQ(FormatDuration(7), "0:07");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-1), "-:--");
}

TEST(CliText, Utf16RoundTripIncludingSurrogatesAndBoundedLength) {
  std::u16string wide = u"caf\u00e9 \U0001F4F7";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(wide.c_str())), wide);
  const char16_t field[4] = {u'a', u'b', u'c', u'd'};  // no terminator inside the field
  EXPECT_EQ(Utf16ToUtf8(field, 4), "abcd");
  const char16_t lone[] = {0xD800, u'x', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "\xEF\xBF\xBDx");
  EXPECT_EQ(SplitList(" jpg, png,,photos ", ","), (std::vector<std::string>{"jpg", "png", "photos"}));
}

TEST(CliProgress, BarAndLineShowPercentRateEtaAndFiles) {
  ProgressSnapshot s;
  s.done = 50ull << 20;
  s.total = 100ull << 20;
  s.seconds = 2;
  s.sessionBytes = 50ull << 20;
  s.files = 3;
  std::string bar = FormatBar(s, 100);
  EXPECT_NE(bar.find(" 50.0%"), std::string::npos) << bar;
  EXPECT_NE(bar.find("26.2 MB/s"), std::string::npos) << bar;
  EXPECT_NE(bar.find("ETA 0:02"), std::string::npos) << bar;
  EXPECT_NE(bar.find("3 files"), std::string::npos) << bar;
  EXPECT_EQ(bar.find('[') , 0u);
  std::string line = FormatLine(s);
  EXPECT_NE(line.find("50.0% 50.0 MiB of 100 MiB"), std::string::npos) << line;
  s.total.reset();  // a stream of unknown length: no percent, no ETA
  EXPECT_EQ(FormatLine(s).find('%'), std::string::npos);
  EXPECT_DOUBLE_EQ(Throughput(2000000, 0), 0.0);
}
