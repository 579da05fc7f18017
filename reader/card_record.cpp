// The card record in its two forms, both written from the field table of card_fields: the
// "|"-separated text that follows the reply prefix, and one JSON object that carries the prefix's
// model tag and device name as members.
#include "reader/card_record.h"

#include <string_view>

#include "common/json_text.h"
#include "common/reply_texts.h"
#include "common/text.h"
#include "reader/card_fields.h"
#include "reader/reader_driver.h"

namespace kavenor {
namespace {

// About what a record adds to each field's text: a separator or a JSON key with its quotes,
// colon and comma (keys are short), and a count's digits.
constexpr size_t kPerField = 24;

}  // namespace

void AppendCardRecord(const EntryPoints& e, DriverKind driver, CardImageBuffers& images, std::u16string& out) {
  const std::optional<CertKind> kind = ReadCertKind(e, driver);
  if (!kind) {
    out += texts::kNoCertTypeGetter;
    return;
  }
  const CardFields card(e, driver, *kind, images);
  const std::u16string_view label = CertLabel(*kind, driver);
  out.reserve(out.size() + label.size() + card.TextUnits() + card.list().size() * kPerField);
  out += label;
  // A missing field takes its separator with it, so the fields after it move forward.
  for (const CardField& field : card.list()) {
    if (field.state == FieldState::kMissing) continue;
    out += u'|';
    if (field.state == FieldState::kText) out += field.text;
    if (field.state == FieldState::kCount) out += DecimalText(field.count);
  }
}

std::u16string ReaderDriver::FormatCardRecord() {
  std::u16string record;
  AppendCardRecord(entry_, kind_, cardImages_, record);
  return record;
}

std::optional<std::u16string> ReaderDriver::FormatCardRecordJson() {
  const std::optional<CertKind> kind = ReadCertKind(entry_, kind_);
  if (!kind) return std::nullopt;
  const CardFields card(entry_, kind_, *kind, cardImages_);
  JsonObjectText json;
  // Escapes may still grow it; the pictures' Base64 has none.
  json.Reserve(deviceName_.size() + card.TextUnits() + (card.list().size() + 4) * kPerField);
  json.String("readerModel", ModelTag(kind_));
  json.String("deviceName", deviceName_);
  json.String("kind", CertKindName(*kind));
  json.String("kindLabel", CertLabel(*kind, kind_));
  // Every field of the kind keeps its member; what the SDK did not deliver is null.
  for (const CardField& field : card.list()) {
    switch (field.state) {
      case FieldState::kText: json.String(field.key, field.text); break;
      case FieldState::kCount: json.Number(field.key, field.count); break;
      case FieldState::kMissing:
      case FieldState::kBlank: json.Null(field.key); break;
      case FieldState::kSpacer: break;
    }
  }
  return json.Finish();
}

}  // namespace kavenor
