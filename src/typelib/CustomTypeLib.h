// The one object through which the model holds and edits a whole type library
// in memory: the library's creation interface (every change goes through it),
// its reading interface, and a TypeLib Information view used for the
// library-level attributes and for finding types by name. Nothing is
// recorded: every operation applies to the library at once. Names the
// library file can't hold are refused as CustomTypeInfo refuses them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/CustomTypeInfo.h"

namespace zephrin {

// Makes a modifiable in-memory copy of a library (the regeneration engine,
// run on source as its starting library with no file name). Used by
// CustomTypeLib::Duplicate; installed by the regeneration module.
using LibraryCopier = std::function<ole::ComPtr<ole::ITypeLib>(ole::ITypeLib* source)>;
void SetLibraryCopier(LibraryCopier copier);

class CustomTypeLib {
public:
    // Version 1.0; no library is created until the first operation needing one.
    CustomTypeLib();
    CustomTypeLib(const CustomTypeLib&) = delete;
    CustomTypeLib& operator=(const CustomTypeLib&) = delete;

    // Lays out every type (after adding IUnknown or IDispatch as the base of
    // base-less interfaces and dispinterfaces when fAutoAddBases) and returns
    // the live library. Error 5 "LibName and GUID must be set." without a name.
    ole::ComPtr<tli::TypeLibInfo> Generate(bool fAutoAddBases);
    ole::ComPtr<ole::ITypeLib> GenerateDirect(bool fAutoAddBases);

    // Sets the help file (its file name only) and help string DLL to what the
    // library reports for them. Error 91 without a library.
    void RestorePrimaryExternalFiles();

    // A type by name, or by GUID text in braces.
    ole::ComPtr<tli::TypeInfo> GetTypeInfo(std::u16string_view tinfoName);
    // Adds a type; guid "{00000000-0000-0000-0000-000000000000}" leaves it
    // without GUID. On failure no type of that name is left behind.
    std::shared_ptr<CustomTypeInfo> AddCustomTypeInfo(std::u16string_view name, ole::TYPEKIND tkind,
                                                      std::u16string_view guid);
    // Editable types; a dual interface is always its interface half.
    std::shared_ptr<CustomTypeInfo> GetCustomTypeInfo(std::u16string_view tinfoName);
    std::shared_ptr<CustomTypeInfo> GetCustomTypeInfoByNumber(int32_t typeInfoNumber);

    int16_t MajorVersion() const { return majorVersion_; }
    void MajorVersion(int16_t value);
    int16_t MinorVersion() const { return minorVersion_; }
    void MinorVersion(int16_t value);
    // LIBFLAGS; only the low four bits are stored.
    int32_t Attributes();
    void Attributes(int32_t value);
    int32_t LCID();
    void LCID(int32_t value);
    std::u16string LibName();
    // An empty name is refused (error 5).
    void LibName(std::u16string_view value);
    // Registry form with braces.
    std::u16string Guid();
    void Guid(std::u16string_view value);
    void SetGuidDirect(const ole::GUID& guid);

    // Edits a fresh modifiable copy of that library (through the library copier).
    void Duplicate(tli::TypeLibInfo* tlInf);
    // Edits that library; null returns to no library. A read-only library
    // raises error 13 and changes nothing.
    void Attach(ole::ITypeLib* ptlib);
    // Deletes a type by name, or by GUID text in braces.
    void DeleteTypeInfo(std::u16string_view tinfoName);

    // The library being edited (null when there is none).
    ole::ComPtr<ole::ICreateTypeLib2> CreateView() const { return create_; }
    ole::ComPtr<ole::ITypeLib2> ReadView() const { return read_; }

private:
    std::shared_ptr<CustomTypeInfo> WrapTypeInfo(ole::ComPtr<tli::TypeInfo> typeInfo);
    bool HasLibName();
    void CreateLibrary();
    void EnsureLibrary() {
        if (!create_) CreateLibrary();
    }
    void RequireLibrary() const;
    void SyncTypeLibInfo();
    void SyncIfStale() {
        if (stale_) SyncTypeLibInfo();
    }

    int16_t majorVersion_ = 1;
    int16_t minorVersion_ = 0;
    ole::ComPtr<ole::ICreateTypeLib2> create_;
    ole::ComPtr<ole::ITypeLib2> read_;
    ole::ComPtr<tli::TypeLibInfo> info_;
    bool stale_ = false;
};

}  // namespace zephrin
