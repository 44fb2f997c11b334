// The base of the stateless change kinds: one shared object per kind, no
// payload. Clone returns the object itself, Differs answers true, and the
// payload operations do nothing.
#pragma once

#include "changes/hub/IChange.h"

namespace zephrin {

class StatelessChange : public IChange {
public:
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override { return shared_from_this(); }
    bool Differs(IChange&) override { return true; }
    void Save(HistoryFileWriter&, int32_t) override {}
    void Load(HistoryFileReader&, int32_t, IHistoryReferenceCache&) override {}
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}
};

}  // namespace zephrin
