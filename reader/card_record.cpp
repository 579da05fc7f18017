// The "|"-separated card record that follows the reply prefix, written from the field table of
// card_fields.
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

}  // namespace kavenor

