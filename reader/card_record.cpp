// FormatCardRecord: the "|"-separated card record built from the SDK's getters. ORV5U knows one more
// certificate kind and carries kind-dependent fields and the card images; ORV5A and ORV5U-LN share
// the other layout.
#include <memory>
#include <new>

#include "common/reply_texts.h"
#include "common/base64.h"
#include "common/text.h"
#include "reader/reader_driver.h"

namespace kavenor {
namespace {

enum class CertKind { kDefault, kI, kJ, kY };

constexpr int kTextCapacity = 260;
constexpr int kShortTextCapacity = 128;
constexpr int kPhotoCapacity = 102400;
constexpr int kCardImageCapacity = 10240000;
constexpr size_t kFingerprintBytes = 1024;

CertKind KindOf(unsigned char letter, bool knowsY) {
  if (letter == 'I') return CertKind::kI;
  if (letter == 'J') return CertKind::kJ;
  if (knowsY && letter == 'Y') return CertKind::kY;
  return CertKind::kDefault;
}

const char16_t* Label(CertKind kind, bool is5U) {
  switch (kind) {
    case CertKind::kI: return is5U ? u"外国人永久居留身份证（I）" : u"外国人永久居住证（I）";
    case CertKind::kJ: return is5U ? u"港澳台居民居住证（J）" : u"港澳台居住证（J）";
    case CertKind::kY: return u"新版外国人永久居留身份证（Y）";
    case CertKind::kDefault: break;
  }
  return u"身份证";
}

// Calls a text getter with `capacity` and appends what it wrote, up to its first zero unit or the
// whole capacity when it wrote none.
void AppendGetterText(std::u16string& out, sdk::TextGetterFn getter, int capacity) {
  std::u16string buffer(static_cast<size_t>(capacity), u'\0');
  int length = capacity;
  getter(reinterpret_cast<KadrelU16*>(buffer.data()), &length);
  out += TextUpToZero(buffer.data(), buffer.size());
}

// A field: "|" and the getter's text; nothing at all when the library lacks the getter.
void AppendField(std::u16string& out, sdk::TextGetterFn getter, int capacity) {
  if (!getter) return;
  out += u'|';
  AppendGetterText(out, getter, capacity);
}

// A card image: 20 MB taken for this call only, of which only the first 4 bytes are cleared, so the
// pages the getter does not write are never touched. Without the memory the field stays empty.
void AppendCardImage(std::u16string& out, sdk::TextGetterFn getter) {
  if (!getter) return;
  out += u'|';
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[kCardImageCapacity]);
  if (!buffer) return;
  buffer[0] = buffer[1] = 0;
  int length = kCardImageCapacity;
  getter(reinterpret_cast<KadrelU16*>(buffer.get()), &length);
  out += TextUpToZero(buffer.get(), kCardImageCapacity);
}

void AppendFingerprint(std::u16string& out, sdk::FpDataFn getFpData) {
  if (!getFpData) return;
  uint8_t data[kFingerprintBytes] = {};
  int length = kTextCapacity;
  int result = getFpData(data, &length);
  out += u'|';
  bool anySet = false;
  for (uint8_t b : data) anySet |= b != 0;
  if (result == sdk::kOk && anySet) out += Base64Encode(data, kFingerprintBytes);
}

// "|" and the issue count when the getter delivers it; nothing otherwise.
void AppendIssueCount(std::u16string& out, sdk::IssuesNumFn getIssuesNum) {
  if (!getIssuesNum) return;
  int count = kTextCapacity;
  if (getIssuesNum(&count) != sdk::kOk) return;
  out += u'|';
  out += DecimalText(count);
}

}  // namespace

std::u16string ReaderDriver::FormatCardRecord() {
  const EntryPoints& e = entry_;
  if (!e.GetCertTypeU) return texts::kNoCertTypeGetter;
  const bool is5U = kind_ == DriverKind::k5U;

  unsigned char type[4] = {};
  int typeLength = 4;
  e.GetCertTypeU(type, &typeLength);
  const CertKind kind = KindOf(type[0], is5U);

  std::u16string record = Label(kind, is5U);
  if (e.GetPeopleNameU) {
    record += u'|';
    AppendGetterText(record, e.GetPeopleNameU, kTextCapacity);
    // The standby English name continues the name field, without a separator.
    if (kind == CertKind::kY && e.GetStandbyENameU)
      AppendGetterText(record, e.GetStandbyENameU, kShortTextCapacity);
  }
  AppendField(record, e.GetPeopleSexU, kTextCapacity);
  AppendField(record, e.GetPeopleNationU, kTextCapacity);
  AppendField(record, e.GetPeopleBirthdayU, kTextCapacity);
  AppendField(record, e.GetPeopleAddressU, kTextCapacity);
  AppendField(record, e.GetPeopleIDCodeU, kTextCapacity);
  AppendField(record, e.GetDepartmentU, kTextCapacity);
  // The validity dates come as a pair or not at all.
  if (e.GetStartDateU && e.GetEndDateU) {
    AppendField(record, e.GetStartDateU, kTextCapacity);
    AppendField(record, e.GetEndDateU, kTextCapacity);
  }
  AppendField(record, e.GetNewAppMsgU, kTextCapacity);
  AppendFingerprint(record, e.GetFPDate);

  if (!is5U) {
    AppendIssueCount(record, e.GetIssuesNumU);
  } else if (kind == CertKind::kJ || kind == CertKind::kY) {
    AppendIssueCount(record, e.GetIssuesNumU);
  } else {
    record += u'|';  // the default kind and kind I carry no count: an empty field
  }

  if (is5U && kind == CertKind::kY)
    AppendField(record, e.GetOldIDCardNumberU, kShortTextCapacity);
  else
    AppendField(record, e.GetPassCheckIDU, kTextCapacity);
  AppendField(record, e.GetPeopleChineseNameU, kTextCapacity);
  AppendField(record, e.GetPeopleCertVersionU, kTextCapacity);
  AppendField(record, e.GetNationCodeU, kShortTextCapacity);
  AppendField(record, e.Getbase64BMPDataU, kPhotoCapacity);
  if (is5U) {
    AppendCardImage(record, e.Getbase64FrontBMPDataU);
    AppendCardImage(record, e.Getbase64backBMPDataU);
  }
  return record;
}

}  // namespace kavenor
