#include "reader/card_fields.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "common/base64.h"
#include "common/text.h"

namespace kavenor {
namespace {

using sdk::kCardImageChars;
using sdk::kFingerprintBytes;
using sdk::kPhotoChars;
using sdk::kShortTextChars;
using sdk::kTextChars;
// A card image buffer whose text went this far is given back after the read rather than kept:
// 4 MB of pages, against the 19.5 MB that a getter could fill.
constexpr size_t kKeptImageUnits = 2 * 1024 * 1024;

using KindSet = unsigned;
constexpr KindSet Bit(CertKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr KindSet kNone = 0;
constexpr KindSet kResident = Bit(CertKind::kResident);
constexpr KindSet kI = Bit(CertKind::kI);
constexpr KindSet kJ = Bit(CertKind::kJ);
constexpr KindSet kY = Bit(CertKind::kY);
constexpr KindSet kAll = kResident | kI | kJ | kY;

enum class Source {
  kText,         // a text getter, into a zero-filled buffer of its capacity
  kNameTail,     // continues the field before it, without a separator, when not empty
  kValidity,     // a text getter; the two validity dates come as a pair or not at all
  kFingerprint,  // GetFPDate's 1024 bytes as Base64; empty when it fails or all are zero
  kIssueCount,   // GetIssuesNumU, when it delivers
  kNoCount,      // always an empty field
  kCardImage,    // a text getter into one of the driver's card-image buffers, only its start zeroed
};

struct FieldRow {
  const char* key;
  Source source;
  sdk::TextGetterFn EntryPoints::*getter;  // the text sources
  int capacity;
  KindSet on5U;      // the kinds that carry the field on ORV5U
  KindSet onOthers;  // on ORV5A and ORV5U-LN
};

// The record in order, after the certificate label.
constexpr FieldRow kFields[] = {
    {"name", Source::kText, &EntryPoints::GetPeopleNameU, kTextChars, kAll, kAll},
    {"name", Source::kNameTail, &EntryPoints::GetStandbyENameU, kShortTextChars, kY, kNone},
    {"sex", Source::kText, &EntryPoints::GetPeopleSexU, kTextChars, kAll, kAll},
    {"nation", Source::kText, &EntryPoints::GetPeopleNationU, kTextChars, kAll, kAll},
    {"birthDate", Source::kText, &EntryPoints::GetPeopleBirthdayU, kTextChars, kAll, kAll},
    {"address", Source::kText, &EntryPoints::GetPeopleAddressU, kTextChars, kAll, kAll},
    {"idNumber", Source::kText, &EntryPoints::GetPeopleIDCodeU, kTextChars, kAll, kAll},
    {"authority", Source::kText, &EntryPoints::GetDepartmentU, kTextChars, kAll, kAll},
    {"validFrom", Source::kValidity, &EntryPoints::GetStartDateU, kTextChars, kAll, kAll},
    {"validTo", Source::kValidity, &EntryPoints::GetEndDateU, kTextChars, kAll, kAll},
    {"appendedMessage", Source::kText, &EntryPoints::GetNewAppMsgU, kTextChars, kAll, kAll},
    {"fingerprint", Source::kFingerprint, nullptr, 0, kAll, kAll},
    {"issueCount", Source::kIssueCount, nullptr, 0, kJ | kY, kAll},
    {"issueCount", Source::kNoCount, nullptr, 0, kResident | kI, kNone},
    {"passNumber", Source::kText, &EntryPoints::GetPassCheckIDU, kTextChars, kAll & ~kY, kAll},
    {"oldCardNumber", Source::kText, &EntryPoints::GetOldIDCardNumberU, kShortTextChars, kY, kNone},
    {"chineseName", Source::kText, &EntryPoints::GetPeopleChineseNameU, kTextChars, kAll, kAll},
    {"certVersion", Source::kText, &EntryPoints::GetPeopleCertVersionU, kTextChars, kAll, kAll},
    {"nationCode", Source::kText, &EntryPoints::GetNationCodeU, kShortTextChars, kAll, kAll},
    {"photo", Source::kText, &EntryPoints::Getbase64BMPDataU, kPhotoChars, kAll, kAll},
    {"cardFront", Source::kCardImage, &EntryPoints::Getbase64FrontBMPDataU, kCardImageChars, kAll, kNone},
    {"cardBack", Source::kCardImage, &EntryPoints::Getbase64backBMPDataU, kCardImageChars, kAll, kNone},
};

constexpr size_t ImageRows() {
  size_t rows = 0;
  for (const FieldRow& row : kFields) rows += row.source == Source::kCardImage;
  return rows;
}
static_assert(ImageRows() <= kCardImages, "a card image row without a buffer");

bool InTextBuffer(Source source) {
  return source == Source::kText || source == Source::kNameTail || source == Source::kValidity;
}

// The units of the text getters' buffers, all rows' end to end.
size_t TextBufferUnits() {
  size_t units = 0;
  for (const FieldRow& row : kFields)
    if (InTextBuffer(row.source)) units += static_cast<size_t>(row.capacity);
  return units;
}

// Where row `i`'s buffer starts in the text getters' buffers.
size_t TextOffset(size_t i) {
  size_t offset = 0;
  for (size_t j = 0; j < i; ++j)
    if (InTextBuffer(kFields[j].source)) offset += static_cast<size_t>(kFields[j].capacity);
  return offset;
}

// Calls a text getter with `capacity` and a zero-filled `buffer` of that many units; what it wrote.
std::u16string_view GetterText(sdk::TextGetterFn getter, char16_t* buffer, int capacity) {
  int length = capacity;
  getter(reinterpret_cast<KadrelU16*>(buffer), &length);
  return {buffer, UnitsUpToZero(buffer, static_cast<size_t>(capacity))};
}

// Calls a card image's getter with `buffer`, taken at its first use. Only the first 4 bytes are
// cleared, so that the pages the getter does not write are never touched (an earlier card's text
// was cleared after its read). Null without the memory.
const char16_t* CardImage(sdk::TextGetterFn getter, std::unique_ptr<char16_t[]>& buffer) {
  if (!buffer) buffer.reset(new (std::nothrow) char16_t[kCardImageChars]);
  if (!buffer) return nullptr;
  buffer[0] = buffer[1] = 0;
  int length = kCardImageChars;
  getter(reinterpret_cast<KadrelU16*>(buffer.get()), &length);
  return buffer.get();
}

// Base64 of the 1024 bytes; empty when the call fails or leaves them all zero.
std::u16string FingerprintText(sdk::FpDataFn getFpData) {
  uint8_t data[kFingerprintBytes] = {};
  int length = sdk::kFingerprintLength;
  const int result = getFpData(data, &length);
  bool anySet = false;
  for (uint8_t b : data) anySet |= b != 0;
  return result == sdk::kOk && anySet ? Base64Encode(data, kFingerprintBytes) : std::u16string();
}

bool Carries(const FieldRow& row, DriverKind driver, CertKind kind) {
  return ((driver == DriverKind::k5U ? row.on5U : row.onOthers) & Bit(kind)) != 0;
}

}  // namespace

std::optional<CertKind> ReadCertKind(const EntryPoints& e, DriverKind driver) {
  if (!e.GetCertTypeU) return std::nullopt;
  unsigned char type[sdk::kCertTypeBytes] = {};
  int length = sdk::kCertTypeBytes;
  e.GetCertTypeU(type, &length);
  switch (type[0]) {
    case 'I': return CertKind::kI;
    case 'J': return CertKind::kJ;
    case 'Y': return driver == DriverKind::k5U ? CertKind::kY : CertKind::kResident;
    default: return CertKind::kResident;
  }
}

const char16_t* CertLabel(CertKind kind, DriverKind driver) {
  const bool is5U = driver == DriverKind::k5U;
  switch (kind) {
    case CertKind::kI: return is5U ? u"外国人永久居留身份证（I）" : u"外国人永久居住证（I）";
    case CertKind::kJ: return is5U ? u"港澳台居民居住证（J）" : u"港澳台居住证（J）";
    case CertKind::kY: return u"新版外国人永久居留身份证（Y）";
    case CertKind::kResident: break;
  }
  return u"身份证";
}

const char16_t* CertKindName(CertKind kind) {
  switch (kind) {
    case CertKind::kI: return u"I";
    case CertKind::kJ: return u"J";
    case CertKind::kY: return u"Y";
    case CertKind::kResident: break;
  }
  return u"resident";
}

CardFields::CardFields(const EntryPoints& e, DriverKind driver, CertKind kind, CardImageBuffers& images)
    : texts_(new char16_t[TextBufferUnits()]()), images_(images) {
  const size_t rows = std::size(kFields);
  fields_.reserve(rows);
  for (size_t i = 0; i < rows; ++i) {
    const FieldRow& row = kFields[i];
    if (row.source == Source::kNameTail || !Carries(row, driver, kind)) continue;
    const sdk::TextGetterFn getter = row.getter ? e.*row.getter : nullptr;
    CardField field;
    field.key = row.key;
    switch (row.source) {
      case Source::kValidity:
        if (!e.GetStartDateU || !e.GetEndDateU) break;
        [[fallthrough]];
      case Source::kText:
        if (!getter) break;
        field.state = FieldState::kText;
        field.text = GetterText(getter, texts_.get() + TextOffset(i), row.capacity);
        if (i + 1 < rows && kFields[i + 1].source == Source::kNameTail && Carries(kFields[i + 1], driver, kind))
          if (const sdk::TextGetterFn tail = e.*kFields[i + 1].getter) {
            const std::u16string_view tailText = GetterText(tail, texts_.get() + TextOffset(i + 1), kFields[i + 1].capacity);
            if (!tailText.empty()) field.text = nameWithTail_.assign(field.text).append(tailText);
          }
        break;
      case Source::kFingerprint:
        if (!e.GetFPDate) break;
        fingerprint_ = FingerprintText(e.GetFPDate);
        field.state = FieldState::kText;
        field.text = fingerprint_;
        break;
      case Source::kIssueCount: {
        int count = kTextChars;
        if (!e.GetIssuesNumU || e.GetIssuesNumU(&count) != sdk::kOk) break;
        field.state = FieldState::kCount;
        field.count = count;
        break;
      }
      case Source::kNoCount: field.state = FieldState::kSpacer; break;
      case Source::kCardImage: {
        if (!getter) break;
        const size_t slot = imagesUsed_++;
        const char16_t* image = CardImage(getter, images_.buffers[slot]);
        field.state = image ? FieldState::kText : FieldState::kBlank;
        if (image) field.text = std::u16string_view(image, imageUnits_[slot] = UnitsUpToZero(image, kCardImageChars));
        break;
      }
      case Source::kNameTail: break;
    }
    textUnits_ += field.text.size();
    fields_.push_back(field);
  }
}

// No card's images are left for the next card to show (through a getter that writes no
// terminator) or lie in memory after the read: each buffer is cleared as far as its text went,
// also one given back, whose memory a later buffer may get.
CardFields::~CardFields() {
  for (size_t slot = 0; slot < imagesUsed_; ++slot) {
    std::unique_ptr<char16_t[]>& buffer = images_.buffers[slot];
    if (!buffer) continue;
    std::fill_n(buffer.get(), imageUnits_[slot], u'\0');
    if (imageUnits_[slot] >= kKeptImageUnits) buffer.reset();
  }
}

}  // namespace kavenor
