// The fields of a card record: which ones each certificate kind carries on each driver, from which
// getter, with which capacity, in which order. The "|"-separated record and the JSON record are
// both written from this one table, once all the getters have delivered, so that each is reserved
// at its final size and the megabytes of the card images are copied once.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  std::u16string_view text;  // kText; valid while the CardFields that holds it lives
  int count = 0;             // kCount
};

// The kind the SDK reports through GetCertTypeU; nullopt when the library lacks that getter.
std::optional<CertKind> ReadCertKind(const EntryPoints& e, DriverKind driver);

// The certificate label that opens the text record: it differs between ORV5U and the others.
const char16_t* CertLabel(CertKind kind, DriverKind driver);

// The kind's name in the JSON record: "resident", "I", "J", "Y".
const char16_t* CertKindName(CertKind kind);

// How many card images a record carries at most: the front and the back.
constexpr size_t kCardImages = 2;

// The card images' buffers of 20 MB each, kept from one read to the next so that the pages a getter
// writes are not asked of the system again at every read. Taken at the first card with images;
// CardFields clears what a card left in them, and gives back a buffer that a long text filled, so
// that an idle driver holds only the pages its last cards' images touched. One per driver.
struct CardImageBuffers {
  std::unique_ptr<char16_t[]> buffers[kCardImages];
};

// The fields that `kind` carries on `driver`, read when constructed by calling their getters in the
// record's order; the reader must be open after a successful read. The texts point into buffers
// this object owns and into `images`, which it uses alone while it lives.
class CardFields {
 public:
  CardFields(const EntryPoints& e, DriverKind driver, CertKind kind, CardImageBuffers& images);
  ~CardFields();
  CardFields(const CardFields&) = delete;
  CardFields& operator=(const CardFields&) = delete;

  const std::vector<CardField>& list() const { return fields_; }
  // The units of all the fields' texts together.
  size_t TextUnits() const { return textUnits_; }

 private:
  std::unique_ptr<char16_t[]> texts_;  // the text getters' buffers, end to end
  CardImageBuffers& images_;
  size_t imageUnits_[kCardImages] = {};  // how far each image buffer's text went
  size_t imagesUsed_ = 0;
  std::u16string nameWithTail_;  // the name and the standby English name
  std::u16string fingerprint_;
  std::vector<CardField> fields_;
  size_t textUnits_ = 0;
};

}  // namespace kavenor
