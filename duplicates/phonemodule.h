#pragma once

// libphonenumber, with protobuf, lives in the module quembe-phone.so, loaded when the first
// phone number needs it rather than at every start of the program.

#include <cstddef>

#define QUEMBE_PARSE_PHONE "quembe_parse_phone"

extern "C" {
/// Reads `text` as a phone number of China unless it says otherwise. On success fills `key`
/// (NUL-terminated, at most `size` bytes: "+" country code, national number, ";" extension
/// when there is one, the `extension` written beside it when the number has none) and
/// `mobile`, and returns true; false when it is not a number libphonenumber reads.
typedef bool (*QuembeParsePhone)(const char* text, const char* extension, char* key,
                                 std::size_t size, bool* mobile);
}
