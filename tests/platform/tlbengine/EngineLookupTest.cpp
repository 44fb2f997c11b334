// Lookups by member id and by name give the same answers whether the type is
// small enough to be searched in place or has its lookup tables, and when it
// grows from one to the other between lookups.
#include "support/EngineTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace enginetest;

namespace {

std::u16string Numbered(const char16_t* stem, size_t i) {
    std::u16string s = stem;
    for (char c : std::to_string(i)) s += static_cast<char16_t>(c);
    return s;
}

// A file for a library of the test's own.
std::u16string FileFor(size_t n) {
    return FromUtf8(::testing::TempDir() + "engine_lookup_" + std::to_string(n) + ".tlb");
}

constexpr MEMBERID kPropId = 50;
MEMBERID IdOf(size_t i) { return static_cast<MEMBERID>(100 + i); }

// An interface with a property (get and put sharing one id) and `count`
// further functions "Func0".. with ids 100.., each documented.
void AddFunctions(ICreateTypeInfo2* type, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        const UINT at = static_cast<UINT>(i + 2);
        ASSERT_OK(AddFunc(type, at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, IdOf(i)));
        ASSERT_OK(SetNames(type, at, {Numbered(u"Func", i), u"x"}));
        ASSERT_OK(type->SetFuncDocString(at, Numbered(u"Does ", i).data()));
    }
}

void ExpectFunctionLookups(ITypeInfo2* ti, size_t count) {
    UINT index = 99;
    EXPECT_OK(ti->GetFuncIndexOfMemId(kPropId, INVOKE_PROPERTYPUT, &index));
    EXPECT_EQ(index, 1u);
    EXPECT_OK(ti->GetFuncIndexOfMemId(kPropId, INVOKE_PROPERTYGET, &index));
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ti->GetFuncIndexOfMemId(kPropId, INVOKE_FUNC, &index), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(ti->GetFuncIndexOfMemId(IdOf(count), INVOKE_FUNC, &index), TYPE_E_ELEMENTNOTFOUND);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_OK(ti->GetFuncIndexOfMemId(IdOf(i), INVOKE_FUNC, &index));
        EXPECT_EQ(index, i + 2);
        EXPECT_EQ(NamesOf(ti, IdOf(i)), (std::vector<std::u16string>{Numbered(u"Func", i), u"x"}));
        BStr doc;
        EXPECT_OK(ti->GetDocumentation(IdOf(i), nullptr, doc.put(), nullptr, nullptr));
        EXPECT_EQ(doc.view(), Numbered(u"Does ", i));
    }
    EXPECT_EQ(NamesOf(ti, kPropId), (std::vector<std::u16string>{u"Prop"}));
    BStr none;
    EXPECT_EQ(ti->GetDocumentation(IdOf(count), nullptr, none.put(), nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST(EngineLookup, FunctionsAreFoundAlikeInSmallAndLargeTypes) {
    for (size_t count : {1u, 8u, 13u, 14u, 15u, 30u}) {
        SCOPED_TRACE(count);
        const std::u16string file = FileFor(count);
        ComPtr<ICreateTypeLib2> lib;
        ASSERT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
        ASSERT_OK(lib->SetName(u"Lookups"));
        auto type = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
        TYPEDESC bstr = Td(VT_BSTR);
        std::vector<ELEMDESC> get{Elem(VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
        get[0].tdesc.lptdesc = &bstr;
        FUNCDESC g = Func(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, get, kPropId);
        ASSERT_OK(type->AddFuncDesc(0, &g));
        ASSERT_OK(SetNames(type.get(), 0, {u"Prop"}));
        ASSERT_OK(AddFunc(type.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_BSTR}, kPropId));
        ASSERT_OK(SetNames(type.get(), 1, {u"prop"}));  // the other accessor may share the name
        AddFunctions(type.get(), 0, count);
        auto ti = Read(type);
        ExpectFunctionLookups(ti.get(), count);

        // Names clash regardless of case; a third accessor kind may join the property.
        const UINT at = static_cast<UINT>(count + 2);
        ASSERT_OK(AddFunc(type.get(), at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 900));
        EXPECT_EQ(SetNames(type.get(), at, {u"FUNC0"}), TYPE_E_AMBIGUOUSNAME);
        EXPECT_EQ(SetNames(type.get(), at, {u"PROP"}), TYPE_E_AMBIGUOUSNAME);
        // The engine's own call gives a method the name of functions of its ID only.
        const auto shareName = [&](std::u16string name) {
            LPOLESTR names[] = {name.data()};
            return type.As<ICreateTypeInfoSharedName>()->SetFuncAndParamNamesSharingId(at, names, 1);
        };
        EXPECT_EQ(shareName(u"PROP"), TYPE_E_AMBIGUOUSNAME);
        ASSERT_OK(type->DeleteFuncDesc(at));
        ASSERT_OK(AddFunc(type.get(), at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, kPropId));
        EXPECT_EQ(SetNames(type.get(), at, {u"PROP"}), TYPE_E_AMBIGUOUSNAME);
        EXPECT_OK(shareName(u"PROP"));
        ASSERT_OK(type->DeleteFuncDesc(at));
        ASSERT_OK(AddFunc(type.get(), at, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUTREF, VT_HRESULT, {VT_UNKNOWN}, kPropId));
        EXPECT_OK(SetNames(type.get(), at, {u"PROP"}));
        EXPECT_OK(SetNames(type.get(), 2, {u"func0", u"x"}));  // a function renamed as itself
        ASSERT_OK(SetNames(type.get(), 2, {u"Func0", u"x"}));
        ASSERT_OK(type->DeleteFuncDesc(at));

        // Grown past the size searched in place, it finds the old members and the new.
        AddFunctions(type.get(), count, 10);
        ExpectFunctionLookups(ti.get(), count + 10);
        // And the same once saved and loaded back.
        ASSERT_OK(type->LayOut());
        ASSERT_OK(lib->SaveAllChanges());
        ComPtr<ITypeLib> copy;
        ASSERT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, copy.put()));
        ComPtr<ITypeInfo> loaded;
        ASSERT_OK(copy->GetTypeInfo(0, loaded.put()));
        ExpectFunctionLookups(loaded.As<ITypeInfo2>().get(), count + 10);
    }
}

TEST(EngineLookup, VariablesAreFoundAlikeInSmallAndLargeTypes) {
    for (size_t count : {1u, 16u, 17u, 40u}) {
        SCOPED_TRACE(count);
        auto lib = NewLib();
        auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
        for (size_t i = 0; i < count; ++i)
            ASSERT_OK(AddVar(rec.get(), static_cast<UINT>(i), VAR_PERINSTANCE, VT_I4, Numbered(u"Field", i).c_str(),
                             nullptr, IdOf(i)));
        auto ti = Read(rec);
        for (size_t i = 0; i < count; ++i) {
            UINT index = 99;
            EXPECT_OK(ti->GetVarIndexOfMemId(IdOf(i), &index));
            EXPECT_EQ(index, i);
            EXPECT_EQ(NamesOf(ti.get(), IdOf(i)), (std::vector<std::u16string>{Numbered(u"Field", i)}));
        }
        UINT index = 0;
        EXPECT_EQ(ti->GetVarIndexOfMemId(IdOf(count), &index), TYPE_E_ELEMENTNOTFOUND);
        EXPECT_EQ(rec->SetVarName(static_cast<UINT>(count - 1), u"FIELD0"), count > 1 ? TYPE_E_AMBIGUOUSNAME : S_OK);
        EXPECT_OK(rec->SetVarName(0, u"field0"));
        ASSERT_OK(rec->DeleteVarDescByMemId(IdOf(0)));
        EXPECT_EQ(ti->GetVarIndexOfMemId(IdOf(0), &index), TYPE_E_ELEMENTNOTFOUND);
        if (count > 1) {
            EXPECT_OK(ti->GetVarIndexOfMemId(IdOf(count - 1), &index));
            EXPECT_EQ(index, count - 2);
            EXPECT_OK(rec->SetVarName(0, u"Field0"));  // the name is free again
        }
    }
}


// The name a library finds for `name` through IsName ("" when none).
std::u16string IsNameOf(ITypeLib* lib, std::u16string name) {
    name.resize(std::max<size_t>(name.size(), 64));
    INT found = 0;
    EXPECT_OK(lib->IsName(name.data(), 0, &found));
    return found ? std::u16string(name.c_str()) : std::u16string();
}

TEST(EngineLookup, TypesAreFoundByNameThroughRenamesAndDeletes) {
    auto lib = NewLib();
    ComPtr<ITypeLib> read = lib.As<ITypeLib>();
    std::vector<ComPtr<ICreateTypeInfo2>> types;
    for (size_t i = 0; i < 40; ++i) types.push_back(NewType(lib.get(), Numbered(u"Type", i).c_str(), TKIND_RECORD));
    EXPECT_EQ(IsNameOf(read.get(), u"TYPE7"), u"Type7");
    ComPtr<ICreateTypeInfo> clash;
    EXPECT_EQ(lib->CreateTypeInfo(u"type39", TKIND_ENUM, clash.put()), TYPE_E_NAMECONFLICT);

    // A rename frees the old name and takes the new one; a case change is no clash.
    EXPECT_EQ(types[3]->SetName(u"TYPE4"), TYPE_E_NAMECONFLICT);
    ASSERT_OK(types[3]->SetName(u"Renamed"));
    ASSERT_OK(types[5]->SetName(u"TYPE5"));
    EXPECT_EQ(IsNameOf(read.get(), u"type3"), u"");
    EXPECT_EQ(IsNameOf(read.get(), u"renamed"), u"Renamed");
    EXPECT_EQ(IsNameOf(read.get(), u"type5"), u"TYPE5");

    // Deletes in the middle move the later types down; each is still found as itself.
    ASSERT_OK(lib->DeleteTypeInfo(u"TYPE0"));
    ASSERT_OK(lib->DeleteTypeInfo(u"type20"));
    EXPECT_EQ(lib->DeleteTypeInfo(u"Type20"), TYPE_E_ELEMENTNOTFOUND);
    ASSERT_OK(types[3]->SetName(u"Type20"));  // a deleted type's name is free
    ASSERT_OK(lib->CreateTypeInfo(u"Type0", TKIND_ENUM, clash.put()));
    ASSERT_EQ(read->GetTypeInfoCount(), 39u);
    for (UINT i = 0; i < read->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(read->GetTypeInfo(i, ti.put()));
        const std::u16string name = NameOf(ti.get());
        EXPECT_EQ(IsNameOf(read.get(), name), name);
        ComPtr<ITypeInfo> bound;
        ComPtr<ITypeComp> comp;
        ASSERT_OK(read->GetTypeComp(comp.put()));
        std::u16string upper = name;
        for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
        ComPtr<ITypeComp> inner;
        ASSERT_OK(comp->BindType(upper.data(), 0, bound.put(), inner.put()));
        EXPECT_EQ(bound.get(), ti.get()) << ToUtf8(name);
    }
}

TEST(EngineLookup, ReadersOfALoadedLibraryFindItsTypesAtOnce) {
    const std::u16string file = FileFor(1000);
    {
        ComPtr<ICreateTypeLib2> lib;
        ASSERT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
        ASSERT_OK(lib->SetName(u"Many"));
        for (size_t i = 0; i < 300; ++i) NewType(lib.get(), Numbered(u"Type", i).c_str(), TKIND_RECORD);
        ASSERT_OK(lib->SaveAllChanges());
    }
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.put()));
    std::vector<std::thread> readers;
    std::atomic<int> wrong{0};
    for (int r = 0; r < 6; ++r)
        readers.emplace_back([&, r] {
            for (size_t i = 0; i < 300; ++i) {
                const size_t k = (i * 7 + static_cast<size_t>(r) * 50) % 300;
                std::u16string name = Numbered(u"TYPE", k);
                name.resize(32);
                INT found = 0;
                if (FAILED(loaded->IsName(name.data(), 0, &found)) || !found ||
                    std::u16string(name.c_str()) != Numbered(u"Type", k))
                    ++wrong;
            }
        });
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

// Random edits of a type kept around the size searched in place, with every
// lookup checked after each edit against what the type's descriptions say:
// GetFuncIndexOfMemId finds the first function of the id and kind,
// GetVarIndexOfMemId the first variable, GetNames the type's own function
// before an inherited one, then a variable; a name clashes with any other
// member's unless both are different accessors of one property.
class LookupModel {
public:
    LookupModel(ICreateTypeInfo2* create, ITypeInfo2* read, std::vector<std::u16string> inherited, bool vars)
        : create_(create), read_(read), inherited_(std::move(inherited)), vars_(vars) {}

    void Run(unsigned seed, int steps) {
        rng_ = seed;
        for (int step = 0; step < steps; ++step) {
            SCOPED_TRACE(step);
            const size_t members = funcs_.size() + varNames_.size();
            const bool grow = members < 6 || (members < 26 && Next(3) != 0);
            switch (Next(4)) {
                case 0:
                case 1:
                    if (grow) {
                        InsertFunc();
                    } else if (!funcs_.empty()) {
                        const UINT at = Next(static_cast<UINT>(funcs_.size()));
                        ASSERT_OK(create_->DeleteFuncDesc(at));
                        funcs_.erase(funcs_.begin() + at);
                    }
                    break;
                case 2:
                    if (!vars_) {
                        if (!funcs_.empty()) Rename(Next(static_cast<UINT>(funcs_.size())), false);
                    } else if (grow) {
                        InsertVar();
                    } else if (!varNames_.empty()) {
                        const UINT at = Next(static_cast<UINT>(varNames_.size()));
                        ASSERT_OK(create_->DeleteVarDesc(at));
                        varNames_.erase(varNames_.begin() + at);
                    }
                    break;
                default:
                    if (vars_ && !varNames_.empty() && Next(2))
                        Rename(Next(static_cast<UINT>(varNames_.size())), true);
                    else if (!funcs_.empty())
                        Rename(Next(static_cast<UINT>(funcs_.size())), false);
                    break;
            }
            if (Next(2)) Check();
        }
        Check();
    }

private:
    struct Own {
        INVOKEKIND invkind;
        std::u16string name;
    };

    UINT Next(UINT n) {
        rng_ = rng_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<UINT>((rng_ >> 33) % n);
    }
    MEMBERID SomeId() {
        // Shared ids, those of IUnknown's and IDispatch's functions, or none (given on reading).
        static const MEMBERID ids[] = {MEMBERID_NIL, MEMBERID_NIL, 7, 8, 9, 0x60000000, 0x60010002, 0x60020001};
        return ids[Next(8)];
    }
    static bool Property(INVOKEKIND k) { return k != INVOKE_FUNC; }
    static bool Same(const std::u16string& a, const std::u16string& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::towlower(a[i]) != std::towlower(b[i])) return false;
        return true;
    }
    std::u16string SomeName() {
        static const char16_t* names[] = {u"Alpha", u"alpha", u"Beta", u"BETA", u"Prop", u"prop", u"Gamma"};
        return names[Next(7)];
    }
    bool Clashes(size_t index, bool isVar, const std::u16string& name, INVOKEKIND kind) const {
        for (size_t j = 0; j < funcs_.size(); ++j) {
            if (!isVar && j == index) continue;
            if (!funcs_[j].name.empty() && Same(funcs_[j].name, name) &&
                (isVar || !(Property(kind) && Property(funcs_[j].invkind) && kind != funcs_[j].invkind)))
                return true;
        }
        for (size_t j = 0; j < varNames_.size(); ++j)
            if (!(isVar && j == index) && !varNames_[j].empty() && Same(varNames_[j], name)) return true;
        return false;
    }
    // Names member index, expecting a clash exactly where the rules say; a
    // member left unnamed by a clash gets a name of its own.
    void Rename(size_t index, bool isVar) {
        std::u16string name = SomeName();
        const INVOKEKIND kind = isVar ? INVOKE_FUNC : funcs_[index].invkind;
        const bool clash = Clashes(index, isVar, name, kind);
        HRESULT hr = isVar ? create_->SetVarName(static_cast<UINT>(index), name.c_str())
                           : SetNames(create_, static_cast<UINT>(index), {name});
        EXPECT_EQ(hr, clash ? TYPE_E_AMBIGUOUSNAME : S_OK) << ToUtf8(name) << " at " << index << (isVar ? " var" : "");
        if (FAILED(hr)) {
            name = Numbered(u"Only", ++unique_);
            hr = isVar ? create_->SetVarName(static_cast<UINT>(index), name.c_str())
                       : SetNames(create_, static_cast<UINT>(index), {name});
            ASSERT_OK(hr);
        }
        (isVar ? varNames_[index] : funcs_[index].name) = name;
    }
    void InsertFunc() {
        const UINT at = Next(static_cast<UINT>(funcs_.size() + 1));
        static const INVOKEKIND kinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF};
        const INVOKEKIND kind = kinds[Next(4)];
        const std::vector<VARTYPE> params = kind == INVOKE_FUNC || kind == INVOKE_PROPERTYGET
                                                ? std::vector<VARTYPE>{}
                                                : std::vector<VARTYPE>{VT_I4};
        const FUNCKIND fk = vars_ ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        if (FAILED(AddFunc(create_, at, fk, kind, vars_ ? VT_I4 : VT_HRESULT, params, SomeId()))) return;
        funcs_.insert(funcs_.begin() + at, Own{kind, u""});
        Rename(at, false);
    }
    void InsertVar() {
        const UINT at = Next(static_cast<UINT>(varNames_.size() + 1));
        if (FAILED(AddVar(create_, at, VAR_DISPATCH, VT_I4, nullptr, nullptr, SomeId()))) return;
        varNames_.insert(varNames_.begin() + at, u"");
        Rename(at, true);
    }
    void Check() {
        std::vector<MEMBERID> ids = {MEMBERID_NIL, 7, 8, 9, 0x60000000, 0x60000001, 0x60010002, 0x60020001};
        for (MEMBERID id = 0x60020000; id < 0x60020020; ++id) ids.push_back(id);
        for (MEMBERID id = 0x40000000; id < 0x40000010; ++id) ids.push_back(id);
        // Lookups first: they fix the ids of functions added without one.
        struct Found {
            HRESULT func[4];
            UINT funcAt[4];
            HRESULT var;
            UINT varAt;
            std::vector<std::u16string> names;
        };
        static const INVOKEKIND kinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF};
        std::vector<Found> found(ids.size());
        for (size_t k = 0; k < ids.size(); ++k) {
            for (int i = 0; i < 4; ++i) {
                found[k].funcAt[i] = 999;
                found[k].func[i] = read_->GetFuncIndexOfMemId(ids[k], kinds[i], &found[k].funcAt[i]);
            }
            found[k].varAt = 999;
            found[k].var = read_->GetVarIndexOfMemId(ids[k], &found[k].varAt);
            found[k].names = NamesOf(read_, ids[k], 1);
        }
        const TYPEATTR attr = Attr(read_);
        ASSERT_EQ(attr.cFuncs, inherited_.size() + funcs_.size());
        ASSERT_EQ(attr.cVars, varNames_.size());
        std::vector<std::pair<MEMBERID, INVOKEKIND>> funcs;
        std::vector<std::u16string> names = inherited_;
        for (const Own& f : funcs_) names.push_back(f.name);
        for (UINT i = 0; i < attr.cFuncs; ++i) {
            const FuncInfo f = FuncAt(read_, i);
            funcs.emplace_back(f.memid, f.invkind);
        }
        std::vector<MEMBERID> vars;
        for (UINT i = 0; i < attr.cVars; ++i) vars.push_back(VarAt(read_, i).memid);
        for (size_t k = 0; k < ids.size(); ++k) {
            SCOPED_TRACE(ids[k]);
            for (int i = 0; i < 4; ++i) {
                size_t at = 0;
                while (at < funcs.size() && !(funcs[at].first == ids[k] && funcs[at].second == kinds[i])) ++at;
                EXPECT_EQ(found[k].func[i], at < funcs.size() ? S_OK : TYPE_E_ELEMENTNOTFOUND) << kinds[i];
                if (at < funcs.size()) {
                    EXPECT_EQ(found[k].funcAt[i], at) << kinds[i];
                }
            }
            size_t v = 0;
            while (v < vars.size() && vars[v] != ids[k]) ++v;
            EXPECT_EQ(found[k].var, v < vars.size() ? S_OK : TYPE_E_ELEMENTNOTFOUND);
            if (v < vars.size()) {
                EXPECT_EQ(found[k].varAt, v);
            }
            std::u16string expected;
            size_t pick = funcs.size();
            for (size_t i = 0; i < funcs.size(); ++i)
                if (funcs[i].first == ids[k]) {
                    if (pick == funcs.size() || i >= inherited_.size()) pick = i;
                    if (i >= inherited_.size()) break;
                }
            if (pick < funcs.size())
                expected = names[pick];
            else if (v < vars.size())
                expected = varNames_[v];
            EXPECT_EQ(found[k].names.empty() ? std::u16string() : found[k].names[0], expected);
        }
    }

    ICreateTypeInfo2* create_;
    ITypeInfo2* read_;
    std::vector<std::u16string> inherited_;
    bool vars_;
    std::vector<Own> funcs_;
    std::vector<std::u16string> varNames_;
    unsigned long long rng_ = 0;
    size_t unique_ = 0;
};

TEST(EngineLookup, EditsAroundTheSizeSearchedInPlaceKeepEveryLookupRight) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        {
            // A dispinterface: functions and variables of one id space.
            auto lib = NewLib();
            auto disp = NewType(lib.get(), u"DThing", TKIND_DISPATCH);
            LookupModel model(disp.get(), Read(disp).get(), {}, true);
            model.Run(seed, 160);
        }
        {
            // A dual's dispatch view: inherited functions first, its own ones found before them.
            StdBases std;
            auto lib = NewLib();
            auto dual = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
            ASSERT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
            ASSERT_OK(dual->AddImplType(0, RefTo(dual.get(), std.dispatch.get())));
            ComPtr<ITypeInfo> view;
            HREFTYPE h = 0;
            ASSERT_OK(Read(dual)->GetRefTypeOfImplType(static_cast<UINT>(-1), &h));
            ASSERT_OK(Read(dual)->GetRefTypeInfo(h, view.put()));
            LookupModel model(dual.get(), view.As<ITypeInfo2>().get(),
                              {u"QueryInterface", u"AddRef", u"Release", u"GetTypeInfoCount", u"GetTypeInfo",
                               u"GetIDsOfNames", u"Invoke"},
                              false);
            model.Run(seed + 100, 160);
        }
    }
}

}  // namespace

namespace {

// Upper or lower case of the letters of an ASCII name, by the bits of `mask`.
std::u16string Recased(const std::u16string& name, unsigned mask) {
    std::u16string r = name;
    for (size_t i = 0; i < r.size(); ++i) {
        const bool upper = (mask >> (i % 16)) & 1;
        char16_t& c = r[i];
        if (upper && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        if (!upper && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return r;
}

bool SameAscii(const std::u16string& a, const std::u16string& b) { return Recased(a, 0) == Recased(b, 0); }

}  // namespace

// Many creates, renames (to new names, case changes, the own name, a name just
// freed) and deletes at any place: after each, every type is found as itself
// under any case, a taken name clashes, and a freed one is found no more.
TEST(EngineLookup, EveryTypeIsFoundByNameAfterAnyMixOfCreatesRenamesAndDeletes) {
    auto lib = NewLib();
    ComPtr<ITypeLib> read = lib.As<ITypeLib>();
    ComPtr<ITypeComp> comp;
    ASSERT_OK(read->GetTypeComp(comp.put()));
    std::vector<std::u16string> model;  // the names in index order
    std::vector<std::u16string> freed;
    uint32_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    auto typeAt = [&](size_t i) {
        ComPtr<ITypeInfo> ti;
        EXPECT_OK(read->GetTypeInfo(static_cast<UINT>(i), ti.put()));
        return ti;
    };
    auto indexOf = [&](const std::u16string& name) -> int {
        for (size_t i = 0; i < model.size(); ++i)
            if (SameAscii(model[i], name)) return static_cast<int>(i);
        return -1;
    };
    size_t made = 0;
    for (int step = 0; step < 1500; ++step) {
        const uint32_t op = model.size() < 8 ? 0 : next(10);
        if (op < 4) {  // create, sometimes under a name just freed or a taken one
            std::u16string name = Numbered(u"T", made++);
            if (!freed.empty() && next(3) == 0) name = Recased(freed[next(static_cast<uint32_t>(freed.size()))], next(65536));
            if (!model.empty() && next(8) == 0) name = Recased(model[next(static_cast<uint32_t>(model.size()))], next(65536));
            ComPtr<ICreateTypeInfo> ti;
            const HRESULT hr = lib->CreateTypeInfo(name.c_str(), TKIND_RECORD, ti.put());
            if (indexOf(name) >= 0) {
                ASSERT_EQ(hr, TYPE_E_NAMECONFLICT) << step;
            } else {
                ASSERT_OK(hr);
                model.push_back(name);
                std::erase_if(freed, [&](const std::u16string& f) { return SameAscii(f, name); });
            }
        } else if (op < 7) {  // rename
            const size_t i = next(static_cast<uint32_t>(model.size()));
            std::u16string name;
            switch (next(5)) {
                case 0: name = Recased(model[i], next(65536)); break;           // the own name, any case
                case 1: name = model[next(static_cast<uint32_t>(model.size()))]; break;  // maybe another's
                case 2:
                    name = freed.empty() ? Numbered(u"R", made++) : freed[next(static_cast<uint32_t>(freed.size()))];
                    break;
                default: name = Numbered(u"R", made++); break;
            }
            ComPtr<ICreateTypeInfo2> ti = typeAt(i).As<ICreateTypeInfo2>();
            const HRESULT hr = ti->SetName(name.c_str());
            const int holder = indexOf(name);
            if (holder >= 0 && static_cast<size_t>(holder) != i) {
                ASSERT_EQ(hr, TYPE_E_NAMECONFLICT) << step;
            } else {
                ASSERT_OK(hr);
                if (!SameAscii(model[i], name)) freed.push_back(model[i]);
                std::erase_if(freed, [&](const std::u16string& f) { return SameAscii(f, name); });
                model[i] = name;
            }
        } else {  // delete at the front, the end or anywhere
            const uint32_t where = next(3);
            const size_t i = where == 0 ? 0 : where == 1 ? model.size() - 1 : next(static_cast<uint32_t>(model.size()));
            ASSERT_OK(lib->DeleteTypeInfo(Recased(model[i], next(65536)).c_str())) << step;
            freed.push_back(model[i]);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (step % 25 != 0 && step < 1400) continue;
        ASSERT_EQ(read->GetTypeInfoCount(), model.size()) << step;
        for (size_t i = 0; i < model.size(); ++i) {
            ComPtr<ITypeInfo> ti = typeAt(i);
            ASSERT_EQ(NameOf(ti.get()), model[i]) << step;
            std::u16string asked = Recased(model[i], next(65536));
            ComPtr<ITypeInfo> bound;
            ComPtr<ITypeComp> inner;
            ASSERT_OK(comp->BindType(asked.data(), 0, bound.put(), inner.put()));
            ASSERT_EQ(bound.get(), ti.get()) << step << " " << ToUtf8(model[i]);
        }
        for (const std::u16string& f : freed) {
            if (indexOf(f) >= 0) continue;
            std::u16string asked = f;
            ComPtr<ITypeInfo> bound;
            ComPtr<ITypeComp> inner;
            ASSERT_OK(comp->BindType(asked.data(), 0, bound.put(), inner.put()));
            ASSERT_FALSE(bound) << step << " " << ToUtf8(f);
            ASSERT_EQ(lib->DeleteTypeInfo(f.c_str()), TYPE_E_ELEMENTNOTFOUND);
        }
    }
}

// A file made elsewhere may hold two types of one name (told apart by case or
// not at all): the first of them is the one found, by any reader.
TEST(EngineLookup, OfTwoLoadedTypesSharingANameTheFirstIsFound) {
    const std::u16string file = FileFor(2);
    {
        ComPtr<ICreateTypeLib2> lib;
        ASSERT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
        ASSERT_OK(lib->SetName(u"Twins"));
        NewType(lib.get(), u"Other", TKIND_RECORD);
        NewType(lib.get(), u"Qwertz", TKIND_RECORD);
        NewType(lib.get(), u"Zxcvb", TKIND_RECORD);
        NewType(lib.get(), u"Asdfg", TKIND_ENUM);
        ASSERT_OK(lib->SaveAllChanges());
    }
    // The later names become the first one's, once in another case and once alike.
    std::string bytes;
    {
        std::ifstream in(ToUtf8(file), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto patch = [&](const std::string& from, const std::string& to) {
        const size_t at = bytes.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        bytes.replace(at, to.size(), to);
    };
    patch("Zxcvb", "QWERT");
    patch("Asdfg", "Qwert");
    {
        std::ofstream out(ToUtf8(file), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.put()));
    ASSERT_EQ(loaded->GetTypeInfoCount(), 4u);
    std::vector<ComPtr<ITypeInfo>> types(4);
    for (UINT i = 0; i < 4; ++i) ASSERT_OK(loaded->GetTypeInfo(i, types[i].put()));
    ASSERT_EQ(NameOf(types[2].get()), u"QWERT");
    ASSERT_EQ(NameOf(types[3].get()), u"Qwert");
    ComPtr<ITypeComp> comp;
    ASSERT_OK(loaded->GetTypeComp(comp.put()));
    for (std::u16string asked : {u"qwert", u"Qwert", u"QWERT"}) {
        ComPtr<ITypeInfo> bound;
        ComPtr<ITypeComp> inner;
        ASSERT_OK(comp->BindType(asked.data(), 0, bound.put(), inner.put()));
        EXPECT_EQ(bound.get(), types[2].get()) << ToUtf8(asked);
        EXPECT_EQ(IsNameOf(loaded.get(), asked), u"QWERT");
    }
}
