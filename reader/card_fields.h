// The fields of a card record: which ones each certificate kind carries on each driver, from which
// getter, with which capacity, in which order. The "|"-separated record and the JSON record are
// both written from this one table, field by field as the getters deliver them.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "reader/entry_points.h"

namespace kavenor {

enum class CertKind { kResident, kI, kJ, kY };

// What a getter gave for a field.
enum class FieldState {
  kMissing,  // no getter, or a count not delivered: no field in the text record; null in JSON
  kBlank,    // an empty field in the text record; null in JSON (a card image without memory)
  kSpacer,   // an empty field in the text record that the kind does not carry: left out of JSON
             // (ORV5U's count of kinds other than J and Y)
  kText,
  kCount,
};

struct CardField {
  const char* key = "";  // the field's name in the JSON record
  FieldState state = FieldState::kMissing;
  std::u16string_view text;  // kText; valid only during the sink's call
  int count = 0;             // kCount
};

using CardFieldSink = std::function<void(const CardField&)>;

// The kind the SDK reports through GetCertTypeU; nullopt when the library lacks that getter.
std::optional<CertKind> ReadCertKind(const EntryPoints& e, DriverKind driver);

// The certificate label that opens the text record: it differs between ORV5U and the others.
const char16_t* CertLabel(CertKind kind, DriverKind driver);

// The kind's name in the JSON record: "resident", "I", "J", "Y".
const char16_t* CertKindName(CertKind kind);

// Calls the getters of the fields that `kind` carries on `driver`, in the record's order, and hands
// each field to `sink` as soon as it is read. The reader must be open after a successful read.
void ReadCardFields(const EntryPoints& e, DriverKind driver, CertKind kind, const CardFieldSink& sink);

}  // namespace kavenor
