// Turns a type description (any VarTypeInfo) into the TYPEDESC chain that
// AddFuncDesc, AddVarDesc and SetTypeDescAlias expect. The chains live in a
// TypeDescOwner that the caller declares for the duration of its platform
// calls; everything BuildTypeDesc returned stays valid until the owner is
// freed or goes out of scope.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

// The regeneration engine's side of BuildTypeDesc: it names the type a
// description refers to and maps that type into the library being built.
class TypeReferenceMapper {
public:
    virtual ~TypeReferenceMapper() = default;
    // The type named by the description. An error it raises fails the
    // build; a mapper that keeps going without the type (looking for
    // unresolved types) returns null instead, and MapReferencedType gets null.
    virtual ole::ComPtr<tli::TypeInfo> GetVarTypeTypeInfo(tli::VarTypeInfo* vti) = 0;
    // The HREFTYPE, made by newType's AddRefTypeInfo, of the mapped type.
    // Raises an error record on failure.
    virtual ole::HREFTYPE MapReferencedType(tli::TypeInfo* type, ole::ICreateTypeInfo* newType) = 0;
};

// The owner of the TYPEDESC chains built for one operation.
class TypeDescOwner {
public:
    TypeDescOwner() = default;
    TypeDescOwner(const TypeDescOwner&) = delete;
    TypeDescOwner& operator=(const TypeDescOwner&) = delete;
    ~TypeDescOwner() = default;

    // Frees every chain built with this owner.
    void FreeTypeDesc() noexcept;

    // What the owner holds: chains, pointer-level nodes and array blocks.
    size_t ChainCount() const { return chains_.size(); }
    size_t NodeCount() const { return nodes_.size(); }
    size_t BlockCount() const { return blocks_.size(); }

private:
    friend class TypeDescBuilder;
    struct ArrayBlockDeleter {
        void operator()(ole::ARRAYDESC* p) const noexcept;
    };
    struct Chain {
        size_t firstNode;
        size_t nodeCount;
        size_t firstBlock;
        size_t blockCount;
    };
    std::deque<ole::TYPEDESC> nodes_;  // stable addresses
    std::vector<std::unique_ptr<ole::ARRAYDESC, ArrayBlockDeleter>> blocks_;
    std::vector<Chain> chains_;
};

namespace modTYPEDESC {

// Builds the TYPEDESC chain of vti for a member of newType. With callerDesc
// the chain starts in that record (filled in place); otherwise in a node of
// the owner. Returns the top TYPEDESC. A user-defined type is referenced
// through newType's AddRefTypeInfo, or through the mapper when one is given;
// a dual dispinterface is referenced by its interface half. Errors of the
// mapper pass through. Fixed-size array
// bounds whose descriptor cannot be stored (more than 65535 dimensions, an
// element count outside 1 to 0xFFFFFFFF) raise error 5. On failure nothing
// is left in the owner and callerDesc is emptied.
ole::TYPEDESC* BuildTypeDesc(TypeDescOwner& owner, ole::ICreateTypeInfo* newType, tli::VarTypeInfo* vti,
                             ole::TYPEDESC* callerDesc = nullptr, TypeReferenceMapper* mapper = nullptr);

// The HREFTYPE at the end of a chain that BuildTypeDesc would rebuild node
// for node: pointers, at most one safe array and its element's pointers,
// then a user-defined type. False for any other chain.
bool PlainUserDefinedRef(const ole::TYPEDESC& desc, ole::HREFTYPE* href);

// Rebuilds such a chain as BuildTypeDesc would, in desc itself and nodes of
// the owner, with its user-defined type referenced by href (a reference the
// caller already mapped for this library).
void RebuildWithRef(TypeDescOwner& owner, ole::TYPEDESC& desc, ole::HREFTYPE href);

// Frees every chain of the owner.
inline void FreeTypeDesc(TypeDescOwner& owner) noexcept { owner.FreeTypeDesc(); }

}  // namespace modTYPEDESC
}  // namespace zephrin
