// Seeded random edit sequences: 5 to 30 accepted edits of every kind the
// menus and panes offer, on every type kind of a library read from a file.
// After each sequence the library must save, read back with the members it
// holds, and be written byte for byte alike by batch mode's run of the
// recorded history. A failing sequence names its seed.
//
// ZEPHRIN_RANDOM_EDIT_SEQUENCES sets how many sequences run (default 200),
// ZEPHRIN_RANDOM_EDIT_SEED the first seed (default 1); the seeds that run are
// consecutive. ZEPHRIN_RANDOM_EDIT_KEEP names a folder where the files of a
// failing sequence are copied; ZEPHRIN_RANDOM_EDIT_LENGTH cuts sequences
// short, to find the edit that a failure starts at.
#include <cstdlib>
#include <random>
#include <sstream>

#include "app/EditSessionSupport.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "typelib/CustomVarTypeInfo.h"

namespace sessiontest {
namespace {

using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    return std::strtoull(text, nullptr, 10);
}

// Shapes, and interfaces with properties of every accessor mix, a dual one,
// one derived from another of the library, and one whose slots were set by
// hand with gaps; a union.
void WriteStartingLibrary(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8(file.string()));
    ASSERT_TRUE(lib);
    TypeDescs td;
    const TYPEDESC pl = td.Ptr(Vt(VT_I4)), pv = td.Ptr(Vt(VT_VARIANT)), disp = Vt(VT_DISPATCH);
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    uint32_t guid = 0x7A11D000;
    const auto make = [&](const char16_t* name, const GUID& base, WORD flags) {
        ComPtr<ICreateTypeInfo2> t = NewType(lib.get(), name, TKIND_INTERFACE);
        EXPECT_OK(t->SetGuid({++guid, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
        if (flags) {
            EXPECT_OK(t->SetTypeFlags(flags));
        }
        EXPECT_OK(t->AddImplType(0, RefTo(t.get(), StdOle2Type(base).get())));
        return t;
    };
    // Properties Get, Let, Set, Get/Let, Get/Set, Let/Set and Get/Let/Set.
    const auto properties = [&](ICreateTypeInfo2* t, UINT& i, MEMBERID firstId) {
        const char16_t* names[] = {u"GetOnly", u"LetOnly", u"SetOnly", u"GetLet", u"GetSet", u"LetSet", u"GetLetSet"};
        const int mixes[] = {2, 4, 8, 6, 10, 12, 14};
        for (int p = 0; p < 7; ++p) {
            const MEMBERID id = firstId + p;
            if (mixes[p] & 2)
                AddFunc(t, i++, {.name = names[p], .invkind = INVOKE_PROPERTYGET,
                                 .params = {{u"value", (mixes[p] & 8) ? td.Ptr(disp) : pv, retval}}, .memid = id});
            if (mixes[p] & 4)
                AddFunc(t, i++, {.name = names[p], .invkind = INVOKE_PROPERTYPUT, .params = {{u"value", Vt(VT_VARIANT)}},
                                 .memid = id});
            if (mixes[p] & 8)
                AddFunc(t, i++, {.name = names[p], .invkind = INVOKE_PROPERTYPUTREF, .params = {{u"value", disp}},
                                 .memid = id});
        }
    };
    const auto methods = [&](ICreateTypeInfo2* t, UINT& i) {
        AddFunc(t, i++, {.name = u"Go"});
        AddFunc(t, i++, {.name = u"Options",
                         .params = {{u"count", Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT,
                                     Variant(int32_t{5})},
                                    {u"extra", Vt(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT}},
                         .cParamsOpt = 1});
        AddFunc(t, i++, {.name = u"Localized",
                         .params = {{u"x", Vt(VT_I4)}, {u"lcid", Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID},
                                    {u"result", pl, retval}}});
        AddFunc(t, i++, {.name = u"Many", .params = {{u"values", td.Ptr(td.SafeArray(Vt(VT_VARIANT)))}},
                         .cParamsOpt = -1});
    };
    {
        ComPtr<ICreateTypeInfo2> t = make(u"IProps", kIID_IUnknown, 0);
        UINT i = 0;
        methods(t.get(), i);
        properties(t.get(), i, 20);
        EXPECT_OK(t->LayOut());
        ComPtr<ICreateTypeInfo2> derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        EXPECT_OK(derived->SetGuid({++guid, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
        EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), t.get())));
        AddFunc(derived.get(), 0, {.name = u"Extra", .params = {{u"by", Vt(VT_I4)}}});
        EXPECT_OK(derived->LayOut());
    }
    {
        ComPtr<ICreateTypeInfo2> t = make(u"IDualProps", kIID_IDispatch, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
        UINT i = 0;
        AddFunc(t.get(), i++, {.name = u"Reset", .memid = 1});
        properties(t.get(), i, 40);
        EXPECT_OK(t->LayOut());
    }
    {
        ComPtr<ICreateTypeInfo2> t = make(u"IGapped", kIID_IUnknown, 0);
        AddFunc(t.get(), 0, {.name = u"Low", .oVft = 12});
        AddFunc(t.get(), 1, {.name = u"Middle", .params = {{u"v", Vt(VT_I4)}}, .oVft = 20});
        AddFunc(t.get(), 2, {.name = u"High", .oVft = 32});
        EXPECT_OK(t->LayOut());
    }
    {
        ComPtr<ICreateTypeInfo2> u = NewType(lib.get(), u"UValue", TKIND_UNION);
        AddVar(u.get(), 0, u"asLong", Vt(VT_I4));
        AddVar(u.get(), 1, u"asDouble", Vt(VT_R8));
        EXPECT_OK(u->LayOut());
    }
    ASSERT_OK(lib->SaveAllChanges());
}

// A member of a type as the tree shows it: one node per function, variable or
// property (its accessors' kinds together).
struct MemberNode {
    std::u16string name;
    MEMBERID id = 0;
    int32_t kinds = 0;  // 0: a variable or constant
    std::vector<std::pair<int32_t, SHORT>> params;  // (accessor kind, parameter count)
};

struct TypeNode {
    std::u16string name;
    TYPEKIND kind = TKIND_ENUM;
    int32_t index = 0;
    std::vector<MemberNode> members;
    UINT impls = 0;
};

std::vector<TypeNode> Nodes(ITypeLib* lib) {
    std::vector<TypeNode> out;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, i);
        TypeNode node;
        node.index = static_cast<int32_t>(i);
        ole::BSTR name = nullptr;
        (void)lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
        node.name = typelib_detail::TakeBstr(name);
        TypeAttr attr(ti.get());
        node.kind = attr->typekind;
        node.impls = attr->cImplTypes;
        for (UINT v = 0; v < attr->cVars; ++v) {
            ole::VARDESC* vd = nullptr;
            if (FAILED(ti->GetVarDesc(v, &vd))) continue;
            MemberNode m;
            m.id = vd->memid;
            ti->ReleaseVarDesc(vd);
            ole::BSTR n = nullptr;
            (void)ti->GetDocumentation(m.id, &n, nullptr, nullptr, nullptr);
            m.name = typelib_detail::TakeBstr(n);
            node.members.push_back(m);
        }
        for (UINT f = 0; f < attr->cFuncs; ++f) {
            FuncDescHolder fd(ti.get(), f);
            auto found = std::find_if(node.members.begin(), node.members.end(),
                                      [&](const MemberNode& m) { return m.kinds != 0 && m.id == fd->memid; });
            if (found == node.members.end()) {
                MemberNode m;
                m.id = fd->memid;
                ole::BSTR n = nullptr;
                (void)ti->GetDocumentation(m.id, &n, nullptr, nullptr, nullptr);
                m.name = typelib_detail::TakeBstr(n);
                node.members.push_back(m);
                found = node.members.end() - 1;
            }
            found->kinds |= fd->invkind;
            found->params.emplace_back(fd->invkind, fd->cParams);
        }
        out.push_back(std::move(node));
    }
    return out;
}

// What a reader sees of the library: every type's members, their kinds,
// parameter counts and vtable offsets.
std::string Outline(ITypeLib* lib) {
    std::ostringstream out;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, i);
        ole::BSTR name = nullptr;
        (void)lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
        TypeAttr attr(ti.get());
        out << Utf8(typelib_detail::TakeBstr(name)) << " kind=" << attr->typekind << " vft=" << attr->cbSizeVft
            << " impl=" << attr->cImplTypes << "\n";
        for (UINT v = 0; v < attr->cVars; ++v) {
            ole::VARDESC* vd = nullptr;
            if (FAILED(ti->GetVarDesc(v, &vd))) {
                out << "  var " << v << " unreadable\n";
                continue;
            }
            ole::BSTR n = nullptr;
            (void)ti->GetDocumentation(vd->memid, &n, nullptr, nullptr, nullptr);
            out << "  var " << Utf8(typelib_detail::TakeBstr(n)) << " id=" << vd->memid << "\n";
            ti->ReleaseVarDesc(vd);
        }
        for (UINT f = 0; f < attr->cFuncs; ++f) {
            ole::FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(f, &fd))) {
                out << "  func " << f << " unreadable\n";
                continue;
            }
            ole::BSTR n = nullptr;
            (void)ti->GetDocumentation(fd->memid, &n, nullptr, nullptr, nullptr);
            out << "  func " << Utf8(typelib_detail::TakeBstr(n)) << " id=" << fd->memid << " invoke=" << fd->invkind
                << " params=" << fd->cParams << " opt=" << fd->cParamsOpt << " vtoff=" << fd->oVft << "\n";
            ti->ReleaseFuncDesc(fd);
        }
    }
    return out.str();
}

class RandomEditor {
public:
    RandomEditor(EditSession& session, uint64_t seed) : s_(session), rng_(seed) {}

    // Tries random edits until one is accepted; false when none was after many tries.
    bool OneEdit(std::string& what) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            what.clear();
            try {
                if (Try(what)) return true;
            } catch (const ErrorRecord& e) {
                // Refused: the library is left as it was (batch mode's replay
                // of what was recorded shows whether it was).
                refused_ += "  (refused: " + what + ": " + e.what() + ")\n";
            }
        }
        return false;
    }
    // The edits refused since the last ClearRefused.
    const std::string& Refused() const { return refused_; }
    void ClearRefused() { refused_.clear(); }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }
    template <class T>
    const T& PickOf(const std::vector<T>& v) {
        return v[Pick(v.size())];
    }

    ITypeLib* Lib() { return s_.Lib(); }

    ChangeTarget TypeOf(const TypeNode& t) {
        ChangeTarget target = TypeTarget(Lib(), t.name.c_str());
        return target;
    }
    ChangeTarget MemberOf(const TypeNode& t, const MemberNode& m, int32_t kinds) {
        ChangeTarget target = TypeOf(t);
        target.Kind = kTargetMember;
        target.MemberId = m.id;
        target.MemberName = m.name;
        target.InvokeKind = kinds;
        return target;
    }
    // One accessor of the member, or (for a property, sometimes) all of them.
    int32_t SomeKinds(const MemberNode& m, bool allowAll = true) {
        if (m.kinds == 0 || m.kinds == INVOKE_FUNC) return m.kinds;
        std::vector<int32_t> single;
        for (int32_t k : {2, 4, 8})
            if (m.kinds & k) single.push_back(k);
        if (allowAll && Chance(30)) return m.kinds;
        return PickOf(single);
    }
    ComPtr<CustomVarTypeInfo> SomeType() {
        static const VARTYPE vts[] = {VT_I2, VT_I4, VT_BSTR, VT_VARIANT, VT_BOOL, VT_R8, VT_DISPATCH, VT_UNKNOWN, VT_DATE};
        ComPtr<CustomVarTypeInfo> t = CustomVarTypeInfo::New();
        t->CurrentITypeLib(Lib());
        t->SetType(vts[Pick(std::size(vts))], nullptr);
        if (Chance(30)) t->PointerLevel(1);
        return t;
    }
    std::u16string FreshName(const char16_t* stem) { return stem + ole::FromUtf8(std::to_string(++names_)); }

    std::vector<TypeNode> TypesWhere(const std::function<bool(const TypeNode&)>& keep) {
        std::vector<TypeNode> out;
        for (TypeNode& t : Nodes(Lib()))
            if (keep(t)) out.push_back(std::move(t));
        return out;
    }
    static bool HasMembers(const TypeNode& t) { return !t.members.empty(); }
    static bool IsFuncType(const TypeNode& t) {
        return t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH || t.kind == TKIND_MODULE;
    }

    void Apply(const ChangePtr& change, ChangeTarget target, std::string& what) {
        what = Utf8(change->Describe(target));
        s_.Apply(change, std::move(target));
    }
    void Edit(const std::shared_ptr<IAttributeChange>& change, ChangeTarget target,
              const std::function<void(IAttributeChange&)>& set, std::string& what) {
        what = "edit of " + Utf8(target.TypeName) + "." + Utf8(target.MemberName) + " kind " +
               std::to_string(target.InvokeKind) + "/" + std::to_string(target.ParamIndex);
        s_.Edit(change, std::move(target), set);
    }

    bool Try(std::string& what) {
        const auto members = TypesWhere(HasMembers);
        switch (Pick(19)) {
            case 0:
            case 1: {  // member attributes: flags, type, ID
                if (members.empty()) return false;
                const TypeNode& t = PickOf(members);
                const MemberNode& m = PickOf(t.members);
                const int field = static_cast<int>(Pick(3));
                static const int32_t bits[] = {0x1, 0x2, 0x4, 0x10, 0x40, 0x100, 0x200, 0x400, 0x800, 0x1000};
                const int32_t bit = bits[Pick(std::size(bits))];
                const ComPtr<CustomVarTypeInfo> type = SomeType();
                const int32_t id = Chance(50) ? -1 : static_cast<int32_t>(1 + Pick(60));
                Edit(modMemberChange::NewMemberChange(false), MemberOf(t, m, SomeKinds(m)),
                     [&](IAttributeChange& c) {
                         if (field == 0) c.Flags(c.Flags() ^ bit);
                         if (field == 1) c.VarTypeInfo(type.get());
                         if (field == 2) c.MemberId(id);
                     },
                     what);
                what += field == 0 ? " flags ^" + std::to_string(bit)
                                   : field == 1 ? " type " + std::to_string(type->BaseVarType()) + "*" + std::to_string(type->PointerLevel())
                                                : " id " + std::to_string(id);
                return true;
            }
            case 2:
            case 3: {  // parameter attributes: flags, type
                std::vector<std::pair<TypeNode, MemberNode>> with;
                for (const TypeNode& t : members)
                    for (const MemberNode& m : t.members)
                        for (auto [kind, count] : m.params)
                            if (count > 0) with.emplace_back(t, m);
                if (with.empty()) return false;
                const auto& [t, m] = PickOf(with);
                const auto& [kind, count] = PickOf(m.params);
                if (count == 0) return false;
                ChangeTarget target = MemberOf(t, m, kind);
                target.Kind = kTargetParam;
                target.ParamIndex = static_cast<int16_t>(Pick(static_cast<size_t>(count)));
                static const int32_t flags[] = {PARAMFLAG_FIN, PARAMFLAG_FOUT, PARAMFLAG_FIN | PARAMFLAG_FOUT,
                                                PARAMFLAG_FIN | PARAMFLAG_FOPT, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
                const int32_t flag = flags[Pick(std::size(flags))];
                const ComPtr<CustomVarTypeInfo> type = SomeType();
                const bool typeField = Chance(50);
                Edit(modParamChange::NewParamChange(false), target,
                     [&](IAttributeChange& c) {
                         if (typeField)
                             c.VarTypeInfo(type.get());
                         else
                             c.Flags(flag);
                     },
                     what);
                return true;
            }
            case 4:
            case 5: {  // delete a member (an accessor, or a property)
                if (members.empty()) return false;
                const TypeNode& t = PickOf(members);
                const MemberNode& m = PickOf(t.members);
                Apply(modDeleteChange::GetDeleteChange(), MemberOf(t, m, SomeKinds(m)), what);
                return true;
            }
            case 6: {  // delete a parameter
                std::vector<std::pair<TypeNode, MemberNode>> with;
                for (const TypeNode& t : members)
                    for (const MemberNode& m : t.members)
                        if (m.kinds == INVOKE_FUNC && !m.params.empty() && m.params[0].second > 0) with.emplace_back(t, m);
                if (with.empty()) return false;
                const auto& [t, m] = PickOf(with);
                ChangeTarget target = MemberOf(t, m, INVOKE_FUNC);
                target.Kind = kTargetParam;
                target.ParamIndex = static_cast<int16_t>(Pick(static_cast<size_t>(m.params[0].second)));
                Apply(modDeleteChange::GetDeleteChange(), target, what);
                return true;
            }
            case 7: {  // add a member, or an accessor to a property
                const auto types = TypesWhere([](const TypeNode& t) { return t.kind != TKIND_COCLASS && t.kind != TKIND_ALIAS; });
                const TypeNode& t = PickOf(types);
                auto add = modAddMemberChange::NewAddMemberChange(false);
                std::vector<const MemberNode*> partial;
                for (const MemberNode& m : t.members)
                    if (m.kinds & 14 && (m.kinds & 14) != 14) partial.push_back(&m);
                if (!partial.empty() && Chance(40)) {
                    const MemberNode& m = *partial[Pick(partial.size())];
                    std::vector<int32_t> missing;
                    for (int32_t k : {2, 4, 8})
                        if (!(m.kinds & k)) missing.push_back(k);
                    add->InvokeKind(PickOf(missing));
                    Apply(add, MemberOf(t, m, m.kinds), what);
                    return true;
                }
                static const int32_t kinds[] = {0, 1, 2, 4, 8, 6, 10, 12, 14};
                add->InvokeKind(IsFuncType(t) ? kinds[Pick(std::size(kinds))] : 0);
                Apply(add, TypeOf(t), what);
                return true;
            }
            case 8: {  // insert a parameter
                std::vector<std::pair<TypeNode, MemberNode>> funcs;
                for (const TypeNode& t : members)
                    for (const MemberNode& m : t.members)
                        if (m.kinds != 0) funcs.emplace_back(t, m);
                if (funcs.empty()) return false;
                const auto& [t, m] = PickOf(funcs);
                static const int32_t forms[] = {InsertParamChange::kRequired,      InsertParamChange::kTypedOptional,
                                                InsertParamChange::kVariantOptional, InsertParamChange::kNullOptional,
                                                InsertParamChange::kParamArray,    InsertParamChange::kReturnValue,
                                                InsertParamChange::kLcid};
                auto insert = modInsertParamChange::NewInsertParamChange(false);
                insert->ParamForm(forms[Pick(std::size(forms))]);
                ChangeTarget target = MemberOf(t, m, m.kinds);
                const SHORT count = m.params.empty() ? 0 : m.params[0].second;
                if (count > 0 && Chance(50)) {
                    target.Kind = kTargetParam;
                    target.InvokeKind = m.params[0].first;
                    target.ParamIndex = static_cast<int16_t>(Pick(static_cast<size_t>(count)));
                }
                Apply(insert, target, what);
                return true;
            }
            case 9: {  // remove the ParamArray marking
                std::vector<std::pair<TypeNode, MemberNode>> funcs;
                for (const TypeNode& t : members)
                    for (const MemberNode& m : t.members)
                        if (m.kinds == INVOKE_FUNC) funcs.emplace_back(t, m);
                if (funcs.empty()) return false;
                const auto& [t, m] = PickOf(funcs);
                Apply(modRemoveParamArrayChange::GetRemoveParamArrayChange(), MemberOf(t, m, INVOKE_FUNC), what);
                return true;
            }
            case 10: {  // rename a type, member or parameter
                auto rename = modRenameChange::NewRenameChange(false);
                const auto all = TypesWhere([](const TypeNode&) { return true; });
                const TypeNode& t = PickOf(all);
                if (t.members.empty() || Chance(30)) {
                    rename->NewName(FreshName(u"T"));
                    Apply(rename, TypeOf(t), what);
                    return true;
                }
                const MemberNode& m = PickOf(t.members);
                ChangeTarget target = MemberOf(t, m, m.kinds);
                if (m.kinds == INVOKE_FUNC && !m.params.empty() && m.params[0].second > 0 && Chance(40)) {
                    target.Kind = kTargetParam;
                    target.ParamIndex = static_cast<int16_t>(Pick(static_cast<size_t>(m.params[0].second)));
                    rename->NewName(FreshName(u"p"));
                } else {
                    rename->NewName(FreshName(u"M"));
                }
                Apply(rename, target, what);
                return true;
            }
            case 11: {  // copy a member into a type of the same kind
                if (members.empty()) return false;
                const TypeNode& from = PickOf(members);
                const MemberNode& m = PickOf(from.members);
                const auto to = TypesWhere([&](const TypeNode& t) { return t.kind == from.kind; });
                const TypeNode& t = PickOf(to);
                auto copy = modCopyMemberChange::NewCopyMemberChange(false);
                copy->VarTypeInfo(TypeDescOf(Lib(), from.name.c_str()).get());
                copy->SourceMemberId(m.id);
                if (m.kinds != 0) copy->InvokeKinds(SomeKinds(m));
                if (!t.members.empty() && Chance(30)) {
                    const MemberNode& before = PickOf(t.members);
                    Apply(copy, MemberOf(t, before, before.kinds), what);
                } else {
                    Apply(copy, TypeOf(t), what);
                }
                return true;
            }
            case 12: {  // flatten an interface
                const auto ifaces = TypesWhere([](const TypeNode& t) { return t.kind == TKIND_INTERFACE; });
                if (ifaces.empty()) return false;
                Apply(modFlattenChange::GetFlattenChange(), TypeOf(PickOf(ifaces)), what);
                return true;
            }
            case 13: {  // reset member IDs
                const auto types = TypesWhere([](const TypeNode& t) { return t.kind != TKIND_ALIAS; });
                Apply(Chance(50) ? modResetIDsChange::GetResetAutomaticIDsChange()
                                 : modResetIDsChange::GetResetAllIDsChange(),
                      TypeOf(PickOf(types)), what);
                return true;
            }
            case 14: {  // the vtable order of an interface
                const auto ifaces = TypesWhere([](const TypeNode& t) { return t.kind == TKIND_INTERFACE && t.members.size() > 1; });
                if (ifaces.empty()) return false;
                const TypeNode& t = PickOf(ifaces);
                ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(Lib(), static_cast<UINT>(t.index));
                std::vector<int16_t> offsets;
                for (UINT i = 0; i < TypeAttr(ti.get())->cFuncs; ++i) offsets.push_back(FuncDescHolder(ti.get(), i)->oVft);
                std::shuffle(offsets.begin(), offsets.end(), rng_);
                auto order = modReorderVTableChange::NewReorderVTableChange(false);
                order->Offsets(offsets);
                order->SynchronizeFuncDescs(Chance(70));
                Apply(order, TypeOf(t), what);
                return true;
            }
            case 15: {  // the order of a type's variables
                const auto types = TypesWhere([](const TypeNode& t) {
                    return t.kind != TKIND_INTERFACE && t.kind != TKIND_COCLASS && t.kind != TKIND_ALIAS;
                });
                std::vector<TypeNode> withVars;
                for (const TypeNode& t : types) {
                    size_t vars = 0;
                    for (const MemberNode& m : t.members) vars += m.kinds == 0;
                    if (vars > 1) withVars.push_back(t);
                }
                if (withVars.empty()) return false;
                const TypeNode& t = PickOf(withVars);
                std::vector<int16_t> order;
                for (const MemberNode& m : t.members)
                    if (m.kinds == 0) order.push_back(static_cast<int16_t>(order.size()));
                std::shuffle(order.begin(), order.end(), rng_);
                auto vars = modReorderVarsChange::NewReorderVarsChange(false);
                vars->NewOrder(order);
                Apply(vars, TypeOf(t), what);
                return true;
            }
            case 16: {  // add a type; a fresh GUID is given a fixed one, as the user would
                static const TYPEKIND kinds[] = {TKIND_ENUM,     TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE,
                                                 TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS,  TKIND_UNION};
                auto add = modAddTypeChange::NewAddTypeChange(false);
                add->TypeKind(kinds[Pick(std::size(kinds))]);
                const UINT before = Lib()->GetTypeInfoCount();
                Apply(add, LibraryTarget(Lib()), what);
                for (UINT i = 0; i < Lib()->GetTypeInfoCount(); ++i) {
                    ComPtr<ITypeInfo> ti;
                    CheckHr(Lib()->GetTypeInfo(i, ti.put()));
                    const GUID guid = TypeAttr(ti.get())->guid;
                    if (guid == GUID{} || i < before) continue;
                    ole::BSTR name = nullptr;
                    (void)Lib()->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
                    const std::u16string typeName = typelib_detail::TakeBstr(name);
                    const GUID fixed = {0x7A11D100 + ++guids_, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};
                    s_.Edit(modTypeChange::NewTypeChange(false), TypeTarget(Lib(), typeName.c_str()),
                            [&](IAttributeChange& c) { c.Guid(fixed); });
                }
                return true;
            }
            case 17: {  // implement an interface in a coclass
                const auto coclasses = TypesWhere([](const TypeNode& t) { return t.kind == TKIND_COCLASS; });
                const auto ifaces = TypesWhere(
                    [](const TypeNode& t) { return t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH; });
                if (coclasses.empty() || ifaces.empty()) return false;
                if (Chance(25)) {
                    std::vector<TypeNode> with;
                    for (const TypeNode& t : coclasses)
                        if (t.impls > 0) with.push_back(t);
                    if (with.empty()) return false;
                    const TypeNode& t = PickOf(with);
                    ChangeTarget target = TypeOf(t);
                    target.Kind = kTargetImplType;
                    target.MemberId = static_cast<int32_t>(Pick(t.impls));
                    Apply(modDeleteChange::GetDeleteChange(), target, what);
                    return true;
                }
                auto impl = modAddImplTypeChange::NewAddImplTypeChange(false);
                impl->VarTypeInfo(TypeDescOf(Lib(), PickOf(ifaces).name.c_str()).get());
                Apply(impl, TypeOf(PickOf(coclasses)), what);
                return true;
            }
            default: {  // type attributes: flags, version
                const auto all = TypesWhere([](const TypeNode&) { return true; });
                const TypeNode& t = PickOf(all);
                static const int32_t bits[] = {TYPEFLAG_FHIDDEN, TYPEFLAG_FDUAL, TYPEFLAG_FNONEXTENSIBLE,
                                               TYPEFLAG_FOLEAUTOMATION, TYPEFLAG_FRESTRICTED};
                const int32_t bit = bits[Pick(std::size(bits))];
                const bool version = Chance(30);
                Edit(modTypeChange::NewTypeChange(false), TypeOf(t),
                     [&](IAttributeChange& c) {
                         if (version)
                             c.MajorVersion(static_cast<int16_t>(c.MajorVersion() + 1));
                         else
                             c.Flags(c.Flags() ^ bit);
                     },
                     what);
                return true;
            }
        }
    }


    EditSession& s_;
    std::mt19937_64 rng_;
    int names_ = 0;
    uint32_t guids_ = 0;
    std::string refused_;
};

TEST(RandomEditSequences, EverySequenceSavesReadsBackAndReplaysByteForByte) {
    const uint64_t count = FromEnvironment("ZEPHRIN_RANDOM_EDIT_SEQUENCES", 200);
    const uint64_t first = FromEnvironment("ZEPHRIN_RANDOM_EDIT_SEED", 1);
    TempDir dir;
    WriteStartingLibrary(dir / "in.tlb");
    if (::testing::Test::HasFatalFailure()) return;
    int failures = 0;
    for (uint64_t seed = first; seed < first + count && failures < 5; ++seed) {
        const fs::path folder = dir / ("s" + std::to_string(seed));
        fs::create_directory(folder);
        std::string log;
        bool ok = false;
        try {
            EditSession session(folder, dir / "in.tlb");
            RandomEditor editor(session, seed);
            std::mt19937_64 length(seed ^ 0x5EEDu);
            const int edits = std::min<int>(5 + static_cast<int>(length() % 26),
                                            static_cast<int>(FromEnvironment("ZEPHRIN_RANDOM_EDIT_LENGTH", 30)));
            for (int i = 0; i < edits; ++i) {
                std::string what;
                if (!editor.OneEdit(what)) break;
                log += editor.Refused() + "  " + what + "\n";
                editor.ClearRefused();
            }
            session.Save("live.tlb");
            const std::string live = Outline(session.Lib());
            const std::string reread = Outline(LoadFile(folder / "live.tlb").get());
            EXPECT_EQ(reread, live) << "seed " << seed << ": the saved library reads back otherwise\n" << log;
            session.Replay("session.leh", "batch.tlb");
            const bool same = testsupport::ReadBytes(folder / "batch.tlb") == testsupport::ReadBytes(folder / "live.tlb");
            EXPECT_TRUE(same) << "seed " << seed << ": batch mode wrote other bytes\n" << log;
            ok = same && reread == live;
        } catch (const ErrorRecord& e) {
            ADD_FAILURE() << "seed " << seed << ": " << e.what() << "\n" << log;
        }
        if (!ok) {
            ++failures;
            // Kept for a look where asked to: the library, the history and both files written.
            if (const char* keep = std::getenv("ZEPHRIN_RANDOM_EDIT_KEEP")) {
                fs::copy_file(dir / "in.tlb", folder / "in.tlb", fs::copy_options::overwrite_existing);
                fs::copy(folder, fs::path(keep) / folder.filename(),
                         fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            }
        }
        if (ok) fs::remove_all(folder);
    }
}

}  // namespace
}  // namespace sessiontest
