// The types a library uses from other libraries, and every use of each: the
// data side of the external types dialog. Built from the dependency walk;
// each use keeps the place it was found, from which the editor can select it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"

namespace zephrin::dialogs {

// One use of an external type.
struct ExternalUse {
    // "Type", "Type.Member" or "Type.Member.Parameter".
    std::u16string Description;
    int32_t Usage = 0;       // index into the usage texts
    int32_t TargetKind = 0;  // 2 type, 3 implemented interface, 4 member, 5 parameter
    int32_t TypeIndex = 0;   // of the using type, in the walked library
    int32_t MemberId = 0;    // the implemented interface's index for kind 3
    int32_t InvokeKind = 0;
    int32_t ParamIndex = 0;  // 0-based; a put's value parameter by its position
};

struct ExternalType {
    ole::ComPtr<ole::ITypeInfo> Type;
    std::u16string Name;
    int32_t Image = 0;  // image list index, by the type's kind
    std::vector<ExternalUse> Uses;
};

struct ExternalLibrary {
    ole::ComPtr<ole::ITypeLib> Library;
    std::u16string Name;
    bool Unresolved = false;  // the companion library of unresolved types
    std::vector<ExternalType> Types;
};

class ExternalTypesModel {
public:
    static constexpr int32_t kLibraryImage = 13;
    static constexpr int32_t kAliasOverlay = 15;
    static constexpr int32_t kUsageCount = 14;

    // Walks the library and collects what it uses from other libraries,
    // libraries and types sorted by name. unresolved is the companion library
    // of unresolved types, when there is one. True when anything was found.
    bool Build(ole::ITypeLib* walked, ole::ITypeLib* unresolved);
    void Clear();

    const std::vector<ExternalLibrary>& Libraries() const { return libraries_; }
    // Whether a use reaches into the unresolved-types library given to Build.
    bool UnresolvedReferenced() const { return unresolvedReferenced_; }
    ole::ITypeLib* Walked() const { return walked_.get(); }

    // "Property Get Return Type", ..., "Alias Target".
    static std::u16string UsageText(int32_t usage);
    // The image of a type node: by its kind, aliases and duals resolved; an
    // alias gets the alias overlay of its target's image.
    static int32_t TypeImage(ole::ITypeInfo* type, ole::TYPEKIND kind);

private:
    class Walker;
    struct Context {
        int32_t Kind = 0, MemberId = 0, InvokeKind = 0, ParamIndex = -1, ParamFlags = 0;
    };

    void StartType(int32_t index);
    void AddReference(ole::ITypeLib* lib, ole::ITypeInfo* type, ole::TYPEKIND kind);
    ExternalUse Describe();

    ole::ComPtr<ole::ITypeLib> walked_;
    ole::ComPtr<ole::ITypeLib> unresolved_;
    bool unresolvedReferenced_ = false;
    std::vector<ExternalLibrary> libraries_;
    int32_t typeIndex_ = 0;
    ole::ComPtr<ole::ITypeInfo> currentType_;  // read when first needed
    std::u16string currentName_;
    Context context_;
};

}  // namespace zephrin::dialogs
