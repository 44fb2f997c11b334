#include "dialogs/CustDataValue.h"

#include <cstdint>
#include <string>

#include "foundation/modEscapedString.h"
#include "foundation/modStorableText.h"
#include "platform/tlbfiles/MsftWriter.h"

namespace zephrin::dialogs::CustDataValue {

ole::VARTYPE EditType(ole::VARTYPE valueType) { return valueType == ole::VT_BSTR ? kLpStr : valueType; }

bool CanShowHex(ole::VARTYPE vt) {
    return vt == ole::VT_I2 || vt == ole::VT_I4 || vt == ole::VT_UI1 || vt == ole::VT_INT;
}

std::u16string Format(const ole::Variant& value, bool hex) {
    const ole::VARIANT& v = value.get();
    if (hex && CanShowHex(v.vt)) {
        uint32_t bits = 0;
        switch (v.vt) {
        case ole::VT_I2: bits = static_cast<uint16_t>(v.iVal); break;
        case ole::VT_UI1: bits = v.bVal; break;
        default: bits = static_cast<uint32_t>(v.lVal); break;
        }
        static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
        std::u16string digits;
        do {
            digits.insert(digits.begin(), kDigits[bits & 15]);
            bits >>= 4;
        } while (bits);
        return u"&H" + digits;
    }
    // Strings are typed with escapes, so they are shown with them.
    if (v.vt == ole::VT_BSTR)
        return v.bstrVal ? modEscapedString::EncodeEscapedString(std::u16string_view(v.bstrVal, ole::SysStringLen(v.bstrVal)))
                         : std::u16string();
    std::u16string text;
    if (ole::SUCCEEDED(ole::VariantToText(v, &text))) return text;
    if (v.vt == ole::VT_HRESULT || v.vt == ole::VT_ERROR) {
        // Shown, though no text converts back to these types.
        const std::string digits = std::to_string(v.lVal);
        return std::u16string(digits.begin(), digits.end());
    }
    return {};
}

Parsed Parse(std::u16string_view text, ole::VARTYPE editType) {
    Parsed result;
    if (editType == kLpStr || editType == kLpWStr) {
        std::u16string decoded = modEscapedString::DecodeEscapedString(text);
        // The file holds strings in the ANSI code page: another character would become "?".
        result.Why = modStorableText::WhyUnstorable(decoded);
        result.Valid = result.Why.empty();
        if (result.Valid) result.Value = ole::Variant(std::move(decoded));
        return result;
    }
    const ole::Variant source{text};
    ole::Variant converted;
    if (ole::FAILED(ole::VariantChangeType(&converted.get(), &source.get(), 0, editType))) return result;
    if (!ole::CanWriteValue(converted.get())) {
        result.Why = editType == ole::VT_DECIMAL
                         ? u"A Decimal value must be a whole number from 0 to 18446744073709551615."
                         : u"A library file can't hold this value.";
        return result;
    }
    result.Valid = true;
    result.Value = std::move(converted);
    return result;
}

}  // namespace zephrin::dialogs::CustDataValue
