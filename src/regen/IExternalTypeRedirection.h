// The redirection watcher of a regeneration: told of every type reference
// that a RedirectType or RedirectImportLib request changed, when it is mapped.
// It only observes: its result is not used, but an error record it raises
// ends the generation.
#pragma once

#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

struct IExternalTypeRedirection : ole::IUnknown {
    static constexpr ole::IID kIID = {0xD2329718, 0x5564, 0x11D4, {0x83, 0xC1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    // Where the source and the destination lie.
    static constexpr ole::LONG kSourceInStartingLib = 1;
    static constexpr ole::LONG kSourceElsewhere = 2;
    static constexpr ole::LONG kDestInStartingLib = 4;
    static constexpr ole::LONG kDestElsewhere = 8;

    virtual ole::HRESULT OnTypeRedirection(ole::LONG flags, tli::TypeInfo* sourceType, tli::TypeInfo* destType) = 0;
};

}  // namespace zephrin
