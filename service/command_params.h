// Reading a command message: its code and its named parameters. Messages are byte strings; nothing
// here reads past their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kavenor {

// Reads an unsigned number as strtoul does with a 32-bit unsigned long: leading white space, an
// optional sign (a minus negates modulo 2^32), for base 16 an optional "0x"/"0X", then digits up to
// the first other character. No digits gives 0; a value beyond 32 bits gives 4294967295.
uint32_t StrToUInt(const std::string& text, int base);

// The value of the parameter `name`: the first occurrence of the name anywhere in the message, one
// character skipped (normally "="), up to the first "|" at or after the name when that "|" lies
// beyond the value's start, else up to the end. A name at the very end has an empty value.
// False when the name does not occur.
bool FindParamValue(const std::string& message, const std::string& name, std::string& value);

// The parameter read by StrToUInt in base 10, or -1 when the name does not occur.
int64_t GetIntParam(const std::string& message, const std::string& name);

// Decodes the parameter's digit pairs into `out`: pair k, read like strtol in base 16, gives the
// low 8 bits of byte k. At most `capacity` bytes are stored (further digits are ignored); a trailing
// odd digit is ignored; bytes beyond those stored are left as they are. Returns the number of bytes
// stored (0 for an empty value), or -1 when the name does not occur.
int GetHexParam(const std::string& message, const std::string& name, uint8_t* out, size_t capacity);

// The code part: the text before the first "?", read by StrToUInt in base 16.
uint32_t ReadCommandCode(const std::string& message);

// The time-out of the waiting read: the text after the first "timeout=" read in base 10; 0 when the
// message has none; at most 2147483647.
int32_t CommandTimeoutMs(const std::string& message);

// Whether a card read asks for its record as one JSON object: a "format" parameter of value "json".
bool WantsJsonRecord(const std::string& message);

// The commands of the protocol, by their code.
enum class CommandCode : uint32_t {
  kWaitingRead = 2,        // identity card, attempts until a card is read or the time-out passes
  kReadIdCard = 3,         // identity card, one attempt
  kReadIdCardNoJudge = 4,  // identity card with the reader's no-judge authentication
  kSamId = 5,              // the reader's security-module number
  kM1Request = 6,          // memory card: request
  kM1Read = 7,             // memory card: read one block
  kM1Write = 8,            // memory card: write one block
  kBankCardNumber = 9,
};

// A message read once into what its command needs; the parameters a command does not use are left
// at their defaults.
struct Command {
  CommandCode code = CommandCode::kReadIdCard;
  int32_t timeoutMs = 0;       // code 2
  bool json = false;           // codes 2 to 4: "format=json", a card read answers one JSON object
  // Code 7: "Key" is missing. Code 8: "Key" or "Block" is missing, or "WriteBuf" does not begin
  // with the 32 hex digits of a whole block (a longer value is cut, as "Key" is).
  bool badParameters = false;
  uint8_t key[6] = {};         // codes 7 and 8, zero-filled
  uint8_t block = 0;           // codes 7 and 8: the low 8 bits of "Block", 255 when it is missing
  uint8_t data[16] = {};       // code 8, zero-filled
};

// The command of a message, or nullopt for a message that is none (a code other than 2 to 9).
std::optional<Command> ParseCommand(const std::string& message);

}  // namespace kavenor
