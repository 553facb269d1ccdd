// The header pass by dispatch must answer exactly as asking every prototype
// in list order: the same type code from the same prototype, for any strip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "containers/Items.h"
#include "interface/Manager.h"
#include "registry/HeaderLeads.h"
#include "registry/RecognizerFactory.h"
#include "support/FakeRecognizer.h"

namespace {

constexpr uint32_t kStrip = 512;
constexpr uint32_t kReadable = 16;  // the host guarantees this much past a strip's start

uint32_t Found(uintptr_t, uint32_t folder, uint32_t*, const char16_t*, uint64_t, uint64_t, uint32_t,
               const tag_PictureInfo*) {
  return folder;
}

struct Answer {
  uint32_t code;
  CTypeRecovery* candidate;
};

Answer AskEveryPrototype(CTypeRecoveryManager* m, const uint8_t* buffer, uint32_t length) {
  CTypeRecovery* const* prototypes = typerecovery::ItemsOf(m->m_prototypes);
  for (long i = 0; i < m->m_prototypes.GetCount(); ++i) {
    const uint32_t code = prototypes[i]->IsHeaderMatched(buffer, length, 0);
    if (code != 0) return {code, prototypes[i]};
  }
  return {0, nullptr};
}

std::vector<std::vector<uint8_t>> Fixtures() {
  std::vector<std::string> paths;
  for (const char* root : {TYPERECOVERY_TEST_DATA, TYPERECOVERY_TEST_DATA "/../../samples"}) {
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && ext != ".sh" && ext != ".py" && ext != ".md") {
        paths.push_back(entry.path().string());
      }
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::vector<uint8_t>> files;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

// Compares both passes on every strip handed to it; counts the strips and
// the finds so the test can tell it saw real headers.
class Comparison {
 public:
  explicit Comparison(CTypeRecoveryManager* m) : m_(m) {
    m_->m_headerDispatch.Build(m_->m_prototypes);
  }
  void Strip(const uint8_t* data, uint32_t length, const std::string& what) {
    // A copy with the readable zero tail that the host provides.
    buffer_.assign(data, data + length);
    buffer_.resize(length + kReadable, 0);
    const Answer full = AskEveryPrototype(m_, buffer_.data(), length);
    CTypeRecovery* candidate = nullptr;
    const uint32_t code = m_->m_headerDispatch.Match(buffer_.data(), length, &candidate);
    ++strips;
    if (full.code != 0) ++finds;
    if (code != full.code || candidate != full.candidate) {
      ADD_FAILURE() << what << ": dispatch answered " << code << ", every prototype "
                    << full.code;
    }
  }
  size_t strips = 0;
  size_t finds = 0;

 private:
  CTypeRecoveryManager* m_;
  std::vector<uint8_t> buffer_;
};

void CompareOnAllStrips(CTypeRecoveryManager* m) {
  Comparison compare(m);
  const std::vector<std::vector<uint8_t>> fixtures = Fixtures();
  ASSERT_GT(fixtures.size(), 50u);
  for (size_t f = 0; f < fixtures.size(); ++f) {
    const std::vector<uint8_t>& file = fixtures[f];
    const std::string name = "fixture " + std::to_string(f);
    // Every sector-aligned strip, the last one short.
    for (size_t at = 0; at < file.size(); at += kStrip) {
      const uint32_t length = static_cast<uint32_t>(std::min<size_t>(kStrip, file.size() - at));
      compare.Strip(file.data() + at, length, name + " at " + std::to_string(at));
    }
    // The first strip, shortened, and with every value at each leading position.
    std::vector<uint8_t> head(file.begin(), file.begin() + std::min<size_t>(kStrip, file.size()));
    for (uint32_t length : {1u, 8u, 40u, 64u, 300u}) {
      if (length < head.size()) compare.Strip(head.data(), length, name + " cut");
    }
    for (uint32_t offset : {0u, 2u, 4u, 6u, 8u, 36u}) {
      if (offset >= head.size()) continue;
      std::vector<uint8_t> varied = head;
      for (uint32_t value = 0; value < 256; ++value) {
        varied[offset] = static_cast<uint8_t>(value);
        compare.Strip(varied.data(), static_cast<uint32_t>(varied.size()),
                      name + " byte " + std::to_string(offset) + "=" + std::to_string(value));
      }
    }
  }
  const size_t fixtureFinds = compare.finds;
  EXPECT_GT(fixtureFinds, fixtures.size() / 2) << "the fixtures' headers were not seen";

  // Random bytes, and filler: zeros, 0xFF, text, each with every first byte.
  std::mt19937 rng(16);
  std::vector<uint8_t> strip(kStrip);
  for (int n = 0; n < 20000; ++n) {
    for (uint8_t& b : strip) b = static_cast<uint8_t>(rng());
    compare.Strip(strip.data(), kStrip, "random strip " + std::to_string(n));
  }
  const std::string text = "The quick brown fox jumps over the lazy dog.\r\n";
  for (int kind = 0; kind < 3; ++kind) {
    for (uint32_t i = 0; i < kStrip; ++i) {
      strip[i] = kind == 0 ? 0x00 : kind == 1 ? 0xFF : static_cast<uint8_t>(text[i % text.size()]);
    }
    for (uint32_t value = 0; value < 256; ++value) {
      strip[0] = static_cast<uint8_t>(value);
      compare.Strip(strip.data(), kStrip, "filler " + std::to_string(kind));
    }
  }
}

}  // namespace

TEST(HeaderDispatch, AnswersAsAskingEveryPrototypeForAllTypes) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  TypeRecovery_AddAllTypes(m);
  CompareOnAllStrips(m);
  TypeRecovery_CloseManager(m);
}

TEST(HeaderDispatch, AnswersAsAskingEveryPrototypeInAnotherListOrder) {
  // Types added one by one in reverse code order: other priorities, and
  // classes that share a leading byte in a different order.
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  size_t rows = 0;
  const typerecovery::FormatDescriptor* const* row = typerecovery::RegisteredFormats(&rows);
  for (size_t i = rows; i-- > 0;) TypeRecovery_AddType(m, row[i]->codes[0], ~uint64_t{0});
  CompareOnAllStrips(m);
  TypeRecovery_CloseManager(m);
}

TEST(HeaderDispatch, EveryRegisteredClassHasALeadOrIsAskedEverywhere) {
  // A lead names a class that exists; the classes without one are few.
  size_t rows = 0;
  const typerecovery::FormatDescriptor* const* row = typerecovery::RegisteredFormats(&rows);
  size_t withoutLead = 0;
  for (size_t i = 0; i < rows; ++i) {
    if (typerecovery::FindHeaderLead(row[i]->className) == nullptr) ++withoutLead;
  }
  EXPECT_LE(withoutLead, 4u);
}

TEST(HeaderDispatch, ClassesOfTheHostAreAskedAtEveryStripAndTheListIsRebuiltWhenItGrows) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  TypeRecovery_AddType(m, 513, ~uint64_t{0});  // JPEG
  uint32_t error = 0;
  std::vector<uint8_t> strip(kStrip + kReadable, 'x');
  std::memcpy(strip.data(), "FAKEHDR!", 8);
  EXPECT_EQ(TypeRecovery_Analyse(m, 0, strip.data(), kStrip, 0, &error), 0u);
  auto* fake = new trtest::FakeRecognizer(1537, m, nullptr);
  m->m_prototypes.Add(fake);
  TypeRecovery_Analyse(m, kStrip, strip.data(), kStrip, 0, &error);
  EXPECT_EQ(fake->headerTests, 1);  // asked by the header pass, which found it
  ASSERT_EQ(m->m_actives.GetCount(), 1);
  TypeRecovery_CloseManager(m);
}
