// Small operations the change kinds share: the target's library and type, the
// library's help files around an addition, and the order arrays and byte-sized
// fields of history payloads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "changes/hub/ChangeTarget.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin {
class CustomTypeLib;
class HistoryFileReader;
class HistoryFileWriter;
class ScopeGuard;
}  // namespace zephrin

namespace zephrin::changes_detail {

// The library the target lies in; error 91 when the target names none.
ole::ITypeLib* TargetLibrary(const ChangeTarget& target);
// The target's type as the editor shows it: the interface half of a dual.
ole::ComPtr<ole::ITypeInfo> TargetTypeInfo(const ChangeTarget& target);

// The type a description names; error 91 without a description, error 5 for
// a description of no type.
ole::ComPtr<tli::TypeInfo> NamedType(tli::VarTypeInfo* type);

// Re-sets the library's primary help file and help string DLL
// (CustomTypeLib::RestorePrimaryExternalFiles), and registers on rollback
// what puts the previous ones back.
void RestoreLibraryHelpFiles(CustomTypeLib& library, ScopeGuard& rollback);

// An order array: an Integer count, then count Integers. Empty writes only
// the count 0 and reads back empty; a negative count is refused.
void PutOrder(HistoryFileWriter& out, const std::vector<int16_t>& order);
std::vector<int16_t> GetOrder(HistoryFileReader& in);

// A Boolean kept in one byte: 0xFF (the low byte of True) or 0.
void PutByteBoolean(HistoryFileWriter& out, bool value);

}  // namespace zephrin::changes_detail
