#include "dialogs/CustDataValue.h"

#include <string>

#include "dialogs/modDetailsFields.h"
#include "foundation/modEscapedString.h"
#include "foundation/modStorableText.h"
#include "platform/tlbfiles/MsftWriter.h"

namespace zephrin::dialogs::CustDataValue {

ole::VARTYPE EditType(ole::VARTYPE valueType) { return valueType == ole::VT_BSTR ? kLpStr : valueType; }

std::u16string Format(const ole::Variant& value, bool hex) { return modDetailsFields::FormatValue(value, hex); }

Parsed CheckTyped(std::u16string_view text) {
    Parsed result;
    result.Why = modStorableText::WhyUnstorableValue(text);
    result.Valid = result.Why.empty();
    return result;
}

Parsed Parse(std::u16string_view text, ole::VARTYPE editType) {
    Parsed result;
    if (editType == kLpStr || editType == kLpWStr) {
        std::u16string decoded = modEscapedString::DecodeEscapedString(text);
        // The file holds strings in the ANSI code page: another character would become "?".
        result.Why = modStorableText::WhyUnstorableValue(decoded);
        result.Valid = result.Why.empty();
        if (result.Valid) result.Value = ole::Variant(std::move(decoded));
        return result;
    }
    modDetailsFields::Parsed<ole::Variant> converted = modDetailsFields::ConvertText(text, editType);
    if (!converted.Valid) return result;
    if (!ole::CanWriteValue(converted.Value.get())) {
        result.Why = editType == ole::VT_DECIMAL ? u"A Decimal value must be " + modDetailsFields::ValueRule(editType) + u"."
                                                 : u"A library file can't hold this value.";
        return result;
    }
    result.Valid = true;
    result.Value = std::move(converted.Value);
    return result;
}

}  // namespace zephrin::dialogs::CustDataValue
