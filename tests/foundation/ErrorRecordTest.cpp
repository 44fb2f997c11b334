#include <gtest/gtest.h>

#include "foundation/ErrorRecord.h"

namespace {

using namespace zephrin;

// Errors of a layout or of a GUID that the editor reports by their text.
TEST(ErrorRecord, SizeAndDuplicateErrorsAreReportedWithATextAndTheirCode) {
    for (const auto& [hr, code] : {std::pair{ole::TYPE_E_SIZETOOBIG, u"0x800288C5"},
                                   std::pair{ole::TYPE_E_DUPLICATEID, u"0x800288C6"}}) {
        const std::u16string_view text = ErrorNumberText(hr);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(ErrorReportText(ErrorRecord(hr)), std::u16string(text) + u" (" + code + u")");
    }
}

}  // namespace
