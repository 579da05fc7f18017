// The "|"-separated card record written straight onto the end of a reply.
#pragma once

#include <string>

#include "reader/card_fields.h"
#include "reader/entry_points.h"

namespace kavenor {

// Appends to `out` the record of the card that the SDK holds after a successful read, growing `out`
// once to its final size; the reader must be open. Without GetCertTypeU it appends that text instead.
// The card images are read into `images`.
void AppendCardRecord(const EntryPoints& e, DriverKind driver, CardImageBuffers& images, std::u16string& out);

}  // namespace kavenor
