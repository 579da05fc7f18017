// The card record in its two forms, both written from the field table of card_fields: the
// "|"-separated text that follows the reply prefix, and one JSON object that carries the prefix's
// model tag and device name as members.
#include "common/json_text.h"
#include "common/reply_texts.h"
#include "common/text.h"
#include "reader/card_fields.h"
#include "reader/reader_driver.h"

namespace kavenor {

std::u16string ReaderDriver::FormatCardRecord() {
  const std::optional<CertKind> kind = ReadCertKind(entry_, kind_);
  if (!kind) return texts::kNoCertTypeGetter;
  std::u16string record = CertLabel(*kind, kind_);
  // A missing field takes its separator with it, so the fields after it move forward.
  ReadCardFields(entry_, kind_, *kind, [&record](const CardField& field) {
    if (field.state == FieldState::kMissing) return;
    record += u'|';
    if (field.state == FieldState::kText) record += field.text;
    if (field.state == FieldState::kCount) record += DecimalText(field.count);
  });
  return record;
}

std::optional<std::u16string> ReaderDriver::FormatCardRecordJson() {
  const std::optional<CertKind> kind = ReadCertKind(entry_, kind_);
  if (!kind) return std::nullopt;
  JsonObjectText json;
  json.String("readerModel", ModelTag(kind_));
  json.String("deviceName", deviceName_);
  json.String("kind", CertKindName(*kind));
  json.String("kindLabel", CertLabel(*kind, kind_));
  // Every field of the kind keeps its member; what the SDK did not deliver is null.
  ReadCardFields(entry_, kind_, *kind, [&json](const CardField& field) {
    switch (field.state) {
      case FieldState::kText: json.String(field.key, field.text); return;
      case FieldState::kCount: json.Number(field.key, field.count); return;
      case FieldState::kMissing:
      case FieldState::kBlank: json.Null(field.key); return;
      case FieldState::kSpacer: return;
    }
  });
  return json.Finish();
}

}  // namespace kavenor
