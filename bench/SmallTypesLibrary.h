// A library of many small types for the benchmarks, built through the
// creation interfaces: `groups` groups of a record of four fields (numbers
// and a string), an enumeration of five values and an alias of the record,
// each type and field with a doc string. 4,000 groups make a file of about
// 2.5 MB holding 12,000 types.
#pragma once

#include <string>

#include "LargeLibrary.h"

namespace benchlib {

inline void BuildSmallTypes(const std::u16string& path, int groups = 4000) {
    ComPtr<ICreateTypeLib2> lib;
    Require(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()), "CreateTypeLib2");
    Require(lib->SetName(u"SmallTypes"), "SetName");
    GUID libGuid{0x7E571111, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 9}};
    Require(lib->SetGuid(libGuid), "SetGuid");
    for (int i = 0; i < groups; ++i) {
        const std::u16string n = U16(std::to_string(i));
        ComPtr<ICreateTypeInfo> rec;
        Require(lib->CreateTypeInfo((u"Record" + n).c_str(), TKIND_RECORD, rec.put()), "CreateTypeInfo");
        Require(rec->SetDocString((u"Record number " + n).c_str()), "SetDocString");
        for (UINT v = 0; v < 4; ++v) {
            VARDESC vd{};
            vd.memid = MEMBERID_NIL;
            vd.varkind = VAR_PERINSTANCE;
            vd.elemdescVar.tdesc.vt = v == 3 ? VT_BSTR : v == 2 ? VT_R8 : VT_I4;
            Require(rec->AddVarDesc(v, &vd), "AddVarDesc");
            const std::u16string field = u"field" + U16(std::to_string(v));
            Require(rec->SetVarName(v, field.c_str()), "SetVarName");
            Require(rec->SetVarDocString(v, (u"Field " + field + u" of record " + n).c_str()), "SetVarDocString");
        }
        Require(rec->LayOut(), "LayOut");

        ComPtr<ICreateTypeInfo> e;
        Require(lib->CreateTypeInfo((u"Enum" + n).c_str(), TKIND_ENUM, e.put()), "CreateTypeInfo");
        Require(e->SetDocString((u"Enumeration number " + n).c_str()), "SetDocString");
        for (UINT k = 0; k < 5; ++k) {
            VARIANT value;
            VariantInit(&value);
            value.vt = VT_I4;
            value.lVal = static_cast<LONG>(i * 10 + static_cast<int>(k));
            VARDESC vd{};
            vd.memid = MEMBERID_NIL;
            vd.varkind = VAR_CONST;
            vd.lpvarValue = &value;
            vd.elemdescVar.tdesc.vt = VT_I4;
            Require(e->AddVarDesc(k, &vd), "AddVarDesc");
            const std::u16string name = u"Enum" + n + u"Value" + U16(std::to_string(k));
            Require(e->SetVarName(k, name.c_str()), "SetVarName");
        }
        Require(e->LayOut(), "LayOut");

        ComPtr<ICreateTypeInfo> alias;
        Require(lib->CreateTypeInfo((u"Alias" + n).c_str(), TKIND_ALIAS, alias.put()), "CreateTypeInfo");
        HREFTYPE recRef = 0;
        Require(alias->AddRefTypeInfo(rec.As<ITypeInfo>().get(), &recRef), "AddRefTypeInfo");
        TYPEDESC td{};
        td.vt = VT_USERDEFINED;
        td.hreftype = recRef;
        Require(alias->SetTypeDescAlias(&td), "SetTypeDescAlias");
        Require(alias->SetDocString((u"Another name of record " + n).c_str()), "SetDocString");
        Require(alias->LayOut(), "LayOut");
    }
    Require(lib->SaveAllChanges(), "SaveAllChanges");
}

}  // namespace benchlib
