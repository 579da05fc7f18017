#include "reader/card_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kavenor {
namespace {

constexpr int kImageCapacity = 10240000;

// What a stub card-image getter writes: `text`, then a zero unless `terminated` is false; `fill`
// writes the whole capacity without one.
struct StubImage {
  std::u16string text;
  bool terminated = true;
  bool fill = false;
};
StubImage g_front, g_back;

int Write(const StubImage& image, KadrelU16* out, int* length) {
  if (*length != kImageCapacity) return 0;
  if (image.fill) {
    std::fill_n(out, kImageCapacity, KadrelU16('F'));
    return 1;
  }
  std::copy(image.text.begin(), image.text.end(), out);
  if (image.terminated) out[image.text.size()] = 0;
  return 1;
}
int KADREL_CALL Front(KadrelU16* out, int* length) { return Write(g_front, out, length); }
int KADREL_CALL Back(KadrelU16* out, int* length) { return Write(g_back, out, length); }

// A library with the two card-image getters only: the other fields are missing.
EntryPoints ImagesOnly() {
  EntryPoints e;
  e.Getbase64FrontBMPDataU = Front;
  e.Getbase64backBMPDataU = Back;
  return e;
}

std::u16string Image(const CardFields& card, const char* key) {
  for (const CardField& field : card.list())
    if (std::string(field.key) == key) return std::u16string(field.text);
  return u"(no field)";
}

// The image buffers serve card after card: what a card left must never show in the next one, even
// through a getter that writes no terminator.
TEST(CardFields, ImageBuffersCarryNothingFromOneCardToTheNext) {
  const struct {
    const char* name;
    StubImage front, back;
    std::u16string frontText, backText;
  } cards[] = {
      {"long texts", {u"FRONT-OF-THE-FIRST-CARD"}, {u"BACK-OF-THE-FIRST-CARD"}, u"FRONT-OF-THE-FIRST-CARD",
       u"BACK-OF-THE-FIRST-CARD"},
      {"short texts without terminator", {u"AB", false}, {u"C", false}, u"AB", u"C"},
      {"nothing written", {u"", false}, {u"", false}, u"", u""},
      {"whole capacity", {u"", false, true}, {u"BACK"}, std::u16string(kImageCapacity, u'F'), u"BACK"},
      {"after a filled buffer", {u"X", false}, {u"Y", false}, u"X", u"Y"},
  };
  CardImageBuffers buffers;
  const EntryPoints e = ImagesOnly();
  for (const auto& c : cards) {
    SCOPED_TRACE(c.name);
    g_front = c.front;
    g_back = c.back;
    const CardFields card(e, DriverKind::k5U, CertKind::kResident, buffers);
    EXPECT_EQ(Image(card, "cardFront"), c.frontText);
    EXPECT_EQ(Image(card, "cardBack"), c.backText);
  }
}

// An idle driver keeps only short images' pages: a buffer a getter filled is given back.
TEST(CardFields, AFilledImageBufferIsGivenBack) {
  CardImageBuffers buffers;
  const EntryPoints e = ImagesOnly();
  g_front = {u"", false, true};
  g_back = {u"BACK"};
  { const CardFields card(e, DriverKind::k5U, CertKind::kI, buffers); }
  EXPECT_EQ(buffers.buffers[0], nullptr);
  ASSERT_NE(buffers.buffers[1], nullptr);
  EXPECT_EQ(std::u16string(buffers.buffers[1].get(), 4), std::u16string(4, u'\0'));  // cleared after the read
}

// Other drivers carry no card images and take no buffers.
TEST(CardFields, OnlyOrv5uTakesImageBuffers) {
  CardImageBuffers buffers;
  g_front = g_back = {u"IMG"};
  for (DriverKind driver : {DriverKind::k5A, DriverKind::k5ULN}) {
    const CardFields card(ImagesOnly(), driver, CertKind::kJ, buffers);
    EXPECT_EQ(Image(card, "cardFront"), u"(no field)");
  }
  EXPECT_EQ(buffers.buffers[0], nullptr);
  EXPECT_EQ(buffers.buffers[1], nullptr);
}

}  // namespace
}  // namespace kavenor
