// Lookups by member id and by name give the same answers whether the type is
// small enough to be searched in place or has its lookup tables, and when it
// grows from one to the other between lookups.
#include "support/EngineTestSupport.h"

#include <algorithm>
#include <atomic>
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
