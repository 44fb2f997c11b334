// Small operations over ITypeLib, ITypeInfo and their creation interfaces
// that the whole model shares: the interface half of a dual interface, the
// effective kind of a library item, names and member IDs, containing
// libraries, hidden trailing parameters, a layout test, custom-data copies
// and the marker of an unresolved-types library. Failing platform calls
// raise their HRESULT as an error record unless stated otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/CustData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"

namespace zephrin::modITypeInfoHelper {

// ---- Dual interfaces ----
// Library item index as ITypeInfo2; the interface half for a dual.
ole::ComPtr<ole::ITypeInfo2> GetInterfaceTypeInfo2(ole::ITypeLib* lib, ole::UINT index);
ole::ComPtr<ole::ITypeInfo> GetInterfaceTypeInfo(ole::ITypeLib* lib, ole::UINT index);
ole::ComPtr<ole::ITypeInfo> GetInterfaceTypeInfoOfGuid(ole::ITypeLib* lib, const ole::GUID& guid);
// Replaces a dual dispinterface by its interface half.
void ResolveDualInterface2(ole::ComPtr<ole::ITypeInfo2>& ti);
// The same; errors leave the argument as it was.
void ResolveDualInterface(ole::ComPtr<ole::ITypeInfo>& ti);
// TKIND_INTERFACE for a dual dispinterface, else the item's kind.
ole::TYPEKIND GetEffectiveTypeKind(ole::ITypeLib* lib, ole::UINT index);

// ---- Dispinterfaces declared over an interface ----
// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// stores no functions: it presents those of I's chain. For such a type (as
// its library hands it out, or as it is stored), the types of that chain, I
// first, each read as stored where its library edits it (a dual as its
// interface half); empty for any other type.
std::vector<ole::ComPtr<ole::ITypeInfo2>> DispatchedChain(ole::ITypeInfo* type);
// The type of that chain that declares memberID (a variable or a function of
// any invoke kind). Given home, it must lie there: one of another library is
// refused with error 5, which names it. TYPE_E_ELEMENTNOTFOUND when no type
// of the chain declares the member; null for a type that is no such dispinterface.
ole::ComPtr<ole::ITypeInfo2> DispatchedDeclarer(ole::ITypeInfo* type, ole::MEMBERID memberID, ole::ITypeLib* home);

// ---- Names and IDs ----
ole::MEMBERID MemberIDFromName(ole::ITypeInfo* ti, std::u16string_view name);
std::u16string MemberNameFromID(ole::ITypeInfo* ti, ole::MEMBERID memid);
// The member's name, and the name of parameter paramIndex (0-based) when the
// platform returned it (otherwise paramName is left alone).
void GetMemberNames(ole::ITypeInfo* ti, ole::MEMBERID memid, int paramIndex, std::u16string& memberName,
                    std::u16string& paramName);
void GetMemberAndParamIDs(ole::ITypeInfo* ti, std::u16string_view memberName, std::u16string_view paramName,
                          ole::MEMBERID& memberId, ole::MEMBERID& paramId);
// Whether name, bound with the invoke kind, finds ti's function of that
// member ID and invoke kind: the name is that function's own. The platform
// reads a function's names by its member ID, so a function that shares its ID
// with one stored before it reads under that one's names; binding finds each
// function by its own. Errors count as no.
bool IsOwnName(ole::ITypeInfo* ti, std::u16string_view name, ole::MEMBERID memid, ole::INVOKEKIND kind);
// A method and a property accessor stored under one name and one member ID
// (some compilers write them; the creation interfaces refuse the second):
// when ti's plain function of memid has such an accessor, the accessor's
// invoke kind, and its name in name; otherwise 0. The two read as one member,
// and an edit history, which names a member by its name, can't tell them apart.
int32_t AccessorSharingMethodName(ole::ITypeInfo2* ti, ole::MEMBERID memid, std::u16string* name = nullptr);
// The refusal of an edit that would have to tell such a pair of ti apart.
[[noreturn]] void RaiseSharedMethodName(ole::ITypeInfo* ti, const std::u16string& name, int32_t accessor);
// SetFuncAndParamNames for a function keeping a name it shares with a
// function of the same member ID and another invoke kind: when the platform
// refuses the name as another function's (TYPE_E_AMBIGUOUSNAME), the engine's
// own call that names such a pair, where the engine answers to it.
ole::HRESULT SetFuncNamesSharingId(ole::ICreateTypeInfo* cti, ole::UINT index, ole::LPOLESTR* names, ole::UINT count);
std::u16string GetImplTypeName(ole::ITypeInfo* ti, ole::UINT index);
std::u16string GetBaseTypeName(ole::ITypeInfo* ti, ole::UINT index);
std::u16string GetTypeInfoName(ole::ITypeInfo* ti);
// The index of the type's variable with that member ID; -1 when it is not a
// variable of the type (the lookup's error counts as not found).
int32_t VarIndexOfMemId(ole::ITypeInfo2* ti, ole::MEMBERID memberID);
// How often implemented type 0 can be followed from the item. A cycle raises
// TYPE_E_CIRCULARTYPE.
int GetInheritanceDepth(ole::ITypeLib* lib, ole::UINT index);
ole::ComPtr<ole::ITypeLib> GetContainingTypeLib(ole::ITypeInfo* ti);
ole::ComPtr<ole::ITypeLib2> GetContainingTypeLib2(ole::ITypeInfo* ti);

// ---- Functions and layout ----
// Trailing parameters not shown: 1 for a put/putref, plus 1 for a [retval]
// last parameter, plus 1 for an [lcid] parameter before it (or last).
int HiddenParamCount(const ole::FUNCDESC& fd);
// Whether the function's last parameter is its return value ([retval]).
bool HasRetvalParam(const ole::FUNCDESC& fd);
// Whether an accessor of a property of ti takes or returns the value itself,
// as a dispatch function does: ti is a dispinterface (a dual's interface half
// is not), and the accessor a Get without a return value parameter, or a Let
// or Set that returns no HRESULT. Such a property's Let and Set return
// nothing and its Get returns the value.
bool PassesValueItself(ole::ITypeInfo* ti, const ole::FUNCDESC& fd);
// Whether the Get of memid of the library item at index (its interface half
// for a dual) has a last parameter that is its return value; false when it
// has none, or there is no Get.
bool PropertyGetHasRetval(ole::ITypeLib* lib, ole::UINT index, ole::MEMBERID memid);
// False when the type is not editable; otherwise whether it would lay out
// with one more automatic function, as ProbeLayOut finds. The trial runs on a
// stand-in of the type in a scratch library. Only slots that start past the
// end of a base of the type's own library are tried on the type itself (the
// stand-in can't tell automatic slots of a base that has shrunk from explicit
// offsets with a gap): a failed trial leaves it as it was, a successful one
// lays it out.
bool CanLayOut(ole::ITypeInfo* ti);
// As CanLayOut, for a type of any library, one read from a file too: whether
// its functions sit where automatic slots would put them. Explicit offsets
// with a gap in front of them don't.
bool TakesAutomaticSlots(ole::ITypeInfo* ti);
// Adds a trial function at the end, lays the type out, and deletes the trial
// function again; True when the layout succeeded. With restoreLayout a
// successful probe lays the type out once more, so it reports what it did before.
// Should the probe itself fail, it leaves neither the trial function nor its
// slot behind (as far as the library lets it) and raises the error.
bool ProbeLayOut(ole::ICreateTypeInfo2* cti, ole::ITypeInfo* ti, bool restoreLayout);
// As ProbeLayOut, with the trial function in front of the others: it lays out
// only when every function of the interface takes an automatic slot, since an
// explicit one then stays off the slot the automatic rule moves it to. Call it
// on a type that lays out as it is; the type's own automatic member IDs must
// be fixed before (the trial's layout fixes those still open).
bool ProbeAutomaticSlots(ole::ICreateTypeInfo2* cti, ole::ITypeInfo* ti);
// LayOut with its error caught; true when it succeeded.
bool LayOutTypeInfo(ole::ICreateTypeInfo* cti);
// Why the record ti can't take cbAlignment, empty when it can. A record reads
// back the smaller of the alignment set and the widest alignment of its
// fields, 1, 2, 4 or 8: a larger value could not be read back as set. Where
// the engine doesn't tell that widest alignment, only the four values count.
std::u16string AlignmentRefusal(ole::ITypeInfo* ti, int16_t cbAlignment);

// ---- Custom data ----
// Reads every item of one source item into a CUSTDATA (the caller clears it).
using GetCustDataFn = std::function<void(ole::CUSTDATA& out)>;
// Writes one item to one destination item.
using SetCustDataFn = std::function<void(const ole::GUID& guid, ole::VARIANT& value)>;

GetCustDataFn GetLibCustData(ole::ITypeLib2* lib);
GetCustDataFn GetTypeCustData(ole::ITypeInfo2* ti);
GetCustDataFn GetImplTypeCustData(ole::ITypeInfo2* ti, ole::UINT index);
GetCustDataFn GetVarCustData(ole::ITypeInfo2* ti, ole::UINT index);
GetCustDataFn GetFuncCustData(ole::ITypeInfo2* ti, ole::UINT index);
GetCustDataFn GetParamCustData(ole::ITypeInfo2* ti, ole::UINT funcIndex, ole::UINT paramIndex);
SetCustDataFn SetLibCustData(ole::ICreateTypeLib2* lib);
SetCustDataFn SetTypeCustData(ole::ICreateTypeInfo2* cti);
SetCustDataFn SetImplTypeCustData(ole::ICreateTypeInfo2* cti, ole::UINT index);
SetCustDataFn SetVarCustData(ole::ICreateTypeInfo2* cti, ole::UINT index);
SetCustDataFn SetFuncCustData(ole::ICreateTypeInfo2* cti, ole::UINT index);
SetCustDataFn SetParamCustData(ole::ICreateTypeInfo2* cti, ole::UINT funcIndex, ole::UINT paramIndex);

// Writes every item, in order.
void SetCustDataItems(ole::CUSTDATA& items, const SetCustDataFn& set);
// Reads all items of the source and writes them to the destination.
void CopyCustData(const GetCustDataFn& get, const SetCustDataFn& set);
// As CopyCustData, but modify sees (and may change) the block first and
// returns whether it takes the block over; a block it took over is handed to
// release instead of being cleared. An emptied block writes nothing.
void CopyCustDataModified(const GetCustDataFn& get, const SetCustDataFn& set,
                          const std::function<bool(ole::CUSTDATA&)>& modify,
                          const std::function<void(ole::CUSTDATA&)>& release);
void CopyLibCustData(ole::ITypeLib2* source, ole::ICreateTypeLib2* dest);

// ---- Unresolved-types marker ----
inline constexpr ole::GUID kUnresolvedTypesLibGuid = {
    0x97BE1160, 0x2A99, 0x11D6, {0x84, 0xE0, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
void MarkUnresolvedTypesLib(ole::ICreateTypeLib2* lib);
// Any error gives false.
bool IsUnresolvedTypesLib(ole::ITypeLib* lib);

}  // namespace zephrin::modITypeInfoHelper
