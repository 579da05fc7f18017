#include "reader/card_fields.h"

#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "common/base64.h"

namespace kavenor {
namespace {

constexpr int kTextCapacity = 260;
constexpr int kShortTextCapacity = 128;
constexpr int kPhotoCapacity = 102400;
constexpr int kCardImageCapacity = 10240000;
constexpr size_t kFingerprintBytes = 1024;

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
  kCardImage,    // a text getter with a buffer taken for this call only
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
    {"name", Source::kText, &EntryPoints::GetPeopleNameU, kTextCapacity, kAll, kAll},
    {"name", Source::kNameTail, &EntryPoints::GetStandbyENameU, kShortTextCapacity, kY, kNone},
    {"sex", Source::kText, &EntryPoints::GetPeopleSexU, kTextCapacity, kAll, kAll},
    {"nation", Source::kText, &EntryPoints::GetPeopleNationU, kTextCapacity, kAll, kAll},
    {"birthDate", Source::kText, &EntryPoints::GetPeopleBirthdayU, kTextCapacity, kAll, kAll},
    {"address", Source::kText, &EntryPoints::GetPeopleAddressU, kTextCapacity, kAll, kAll},
    {"idNumber", Source::kText, &EntryPoints::GetPeopleIDCodeU, kTextCapacity, kAll, kAll},
    {"authority", Source::kText, &EntryPoints::GetDepartmentU, kTextCapacity, kAll, kAll},
    {"validFrom", Source::kValidity, &EntryPoints::GetStartDateU, kTextCapacity, kAll, kAll},
    {"validTo", Source::kValidity, &EntryPoints::GetEndDateU, kTextCapacity, kAll, kAll},
    {"appendedMessage", Source::kText, &EntryPoints::GetNewAppMsgU, kTextCapacity, kAll, kAll},
    {"fingerprint", Source::kFingerprint, nullptr, 0, kAll, kAll},
    {"issueCount", Source::kIssueCount, nullptr, 0, kJ | kY, kAll},
    {"issueCount", Source::kNoCount, nullptr, 0, kResident | kI, kNone},
    {"passNumber", Source::kText, &EntryPoints::GetPassCheckIDU, kTextCapacity, kAll & ~kY, kAll},
    {"oldCardNumber", Source::kText, &EntryPoints::GetOldIDCardNumberU, kShortTextCapacity, kY, kNone},
    {"chineseName", Source::kText, &EntryPoints::GetPeopleChineseNameU, kTextCapacity, kAll, kAll},
    {"certVersion", Source::kText, &EntryPoints::GetPeopleCertVersionU, kTextCapacity, kAll, kAll},
    {"nationCode", Source::kText, &EntryPoints::GetNationCodeU, kShortTextCapacity, kAll, kAll},
    {"photo", Source::kText, &EntryPoints::Getbase64BMPDataU, kPhotoCapacity, kAll, kAll},
    {"cardFront", Source::kCardImage, &EntryPoints::Getbase64FrontBMPDataU, kCardImageCapacity, kAll, kNone},
    {"cardBack", Source::kCardImage, &EntryPoints::Getbase64backBMPDataU, kCardImageCapacity, kAll, kNone},
};

// Up to the first zero unit, or the whole capacity when the library wrote none.
size_t TextLength(const char16_t* buffer, size_t capacity) {
  size_t n = 0;
  while (n < capacity && buffer[n] != 0) ++n;
  return n;
}

// Calls a text getter with `capacity` and a zero-filled buffer; what it wrote.
std::u16string GetterText(sdk::TextGetterFn getter, int capacity) {
  std::u16string buffer(static_cast<size_t>(capacity), u'\0');
  int length = capacity;
  getter(reinterpret_cast<KadrelU16*>(buffer.data()), &length);
  buffer.resize(TextLength(buffer.data(), buffer.size()));
  return buffer;
}

// A card image: 20 MB taken for this call only, of which only the first 4 bytes are cleared, so the
// pages the getter does not write are never touched. Null without the memory.
std::unique_ptr<char16_t[]> CardImage(sdk::TextGetterFn getter) {
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[kCardImageCapacity]);
  if (!buffer) return nullptr;
  buffer[0] = buffer[1] = 0;
  int length = kCardImageCapacity;
  getter(reinterpret_cast<KadrelU16*>(buffer.get()), &length);
  return buffer;
}

// Base64 of the 1024 bytes; empty when the call fails or leaves them all zero.
std::u16string FingerprintText(sdk::FpDataFn getFpData) {
  uint8_t data[kFingerprintBytes] = {};
  int length = kTextCapacity;
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
  unsigned char type[4] = {};
  int length = 4;
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

void ReadCardFields(const EntryPoints& e, DriverKind driver, CertKind kind, const CardFieldSink& sink) {
  const size_t rows = std::size(kFields);
  for (size_t i = 0; i < rows; ++i) {
    const FieldRow& row = kFields[i];
    if (row.source == Source::kNameTail || !Carries(row, driver, kind)) continue;
    const sdk::TextGetterFn getter = row.getter ? e.*row.getter : nullptr;
    CardField field;
    field.key = row.key;
    std::u16string text;                 // what field.text shows
    std::unique_ptr<char16_t[]> image;   // a card image's buffer, released after the sink's call
    switch (row.source) {
      case Source::kValidity:
        if (!e.GetStartDateU || !e.GetEndDateU) break;
        [[fallthrough]];
      case Source::kText:
        if (!getter) break;
        text = GetterText(getter, row.capacity);
        if (i + 1 < rows && kFields[i + 1].source == Source::kNameTail && Carries(kFields[i + 1], driver, kind))
          if (const sdk::TextGetterFn tail = e.*kFields[i + 1].getter) text += GetterText(tail, kFields[i + 1].capacity);
        field.state = FieldState::kText;
        field.text = text;
        break;
      case Source::kFingerprint:
        if (!e.GetFPDate) break;
        text = FingerprintText(e.GetFPDate);
        field.state = FieldState::kText;
        field.text = text;
        break;
      case Source::kIssueCount: {
        int count = kTextCapacity;
        if (!e.GetIssuesNumU || e.GetIssuesNumU(&count) != sdk::kOk) break;
        field.state = FieldState::kCount;
        field.count = count;
        break;
      }
      case Source::kNoCount: field.state = FieldState::kSpacer; break;
      case Source::kCardImage:
        if (!getter) break;
        image = CardImage(getter);
        field.state = image ? FieldState::kText : FieldState::kBlank;
        if (image) field.text = std::u16string_view(image.get(), TextLength(image.get(), kCardImageCapacity));
        break;
      case Source::kNameTail: break;
    }
    sink(field);
  }
}

}  // namespace kavenor
