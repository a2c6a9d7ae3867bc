#pragma once
#include <cstdint>
#include <string_view>

// The console's one rule for a whole number, shared by the configuration file and
// every numeric edit of the window and the add-net dialog:
//   optional leading blanks (spaces and tabs), an optional sign ('+' or '-'), then
//   either decimal digits, or hexadecimal digits after "$", "0x" or "0X".
// Nothing may follow the digits (not even blanks); an empty text, a prefix without
// digits or a value outside the signed 32-bit range is not a number.
//
// A sign may stand before a hexadecimal number: "-$10" and "-0x10" are -16. The
// digits are taken as a magnitude, the sign is applied, and the range check is made
// on the result, so "-0x80000000" is the smallest value while "0x80000000" and
// "0xFFFFFFFF" are out of range (hexadecimal text is not a bit pattern here).
//
// Pure functions; safe from any thread.

// True and `value` set when `text` is a whole number; false and `value` untouched
// otherwise.
bool ParseWholeNumber(std::string_view text, int32_t& value);

// The number `text` holds, or `fallback` when it holds none.
int32_t ReadWholeNumber(std::string_view text, int32_t fallback);
