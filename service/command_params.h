// Reading a command message: its code and its named parameters. Messages are byte strings; nothing
// here reads past their end.
#pragma once

#include <cstddef>
#include <cstdint>
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
uint32_t CommandCode(const std::string& message);

// The time-out of the waiting read: the text after the first "timeout=" read in base 10; 0 when the
// message has none; at most 2147483647.
int32_t CommandTimeoutMs(const std::string& message);

}  // namespace kavenor
