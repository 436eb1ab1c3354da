// The module that holds libphonenumber: see phonemodule.h.
#include "phonemodule.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <cstring>
#include <string>

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

extern "C" __attribute__((visibility("default"))) bool
quembe_parse_phone(const char* text, const char* extension, char* key, std::size_t size,
                   bool* mobile) {
    const PhoneNumberUtil* util = PhoneNumberUtil::GetInstance();
    PhoneNumber number;
    if (util->Parse(text, "CN", &number) != PhoneNumberUtil::NO_PARSING_ERROR)
        return false;
    std::string national;
    util->GetNationalSignificantNumber(number, &national);
    std::string result = "+" + std::to_string(number.country_code()) + national;
    const std::string written = number.has_extension() ? number.extension() : extension;
    *mobile = false;
    if (!written.empty()) {
        result += ';' + written;
    } else if (number.country_code() == 86) {
        *mobile = national.size() == 11 && national[0] == '1';
    } else {
        const auto type = util->GetNumberType(number);
        *mobile = type == PhoneNumberUtil::MOBILE || type == PhoneNumberUtil::FIXED_LINE_OR_MOBILE;
    }
    if (size == 0)
        return false;
    const std::size_t n = std::min(result.size(), size - 1);
    std::memcpy(key, result.data(), n);
    key[n] = '\0';
    return true;
}
