#include "typelib/modTYPEDESC.h"

#include <cstdlib>
#include <new>

#include "foundation/ErrorRecord.h"
#include "foundation/modBounds.h"
#include "foundation/ScopeGuard.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

void TypeDescOwner::ArrayBlockDeleter::operator()(ole::ARRAYDESC* p) const noexcept { ::operator delete(p); }

void TypeDescOwner::FreeTypeDesc() noexcept {
    // Newest chain first, as they were handed out.
    while (!chains_.empty()) {
        const Chain c = chains_.back();
        chains_.pop_back();
        nodes_.resize(c.firstNode);
        blocks_.resize(c.firstBlock);
    }
    nodes_.clear();
    blocks_.clear();
}

class TypeDescBuilder {
public:
    TypeDescBuilder(TypeDescOwner& owner, ole::TYPEDESC* callerDesc)
        : owner_(owner), callerDesc_(callerDesc), firstNode_(owner.nodes_.size()),
          firstBlock_(owner.blocks_.size()) {}

    ole::TYPEDESC* NewNode() {
        owner_.nodes_.push_back(ole::TYPEDESC{});
        return &owner_.nodes_.back();
    }

    ole::ARRAYDESC* NewBlock(size_t dims) {
        size_t bytes = offsetof(ole::ARRAYDESC, rgbounds) + dims * sizeof(ole::SAFEARRAYBOUND);
        if (bytes < sizeof(ole::ARRAYDESC)) bytes = sizeof(ole::ARRAYDESC);
        void* mem = ::operator new(bytes, std::nothrow);
        if (!mem) RaiseError(kErrOutOfMemory);
        std::unique_ptr<ole::ARRAYDESC, TypeDescOwner::ArrayBlockDeleter> block(new (mem) ole::ARRAYDESC{});
        owner_.blocks_.push_back(std::move(block));
        return owner_.blocks_.back().get();
    }

    // Drops what this build added (rollback).
    void Discard() noexcept {
        while (!owner_.chains_.empty() && owner_.chains_.back().firstNode >= firstNode_ &&
               owner_.chains_.back().firstBlock >= firstBlock_)
            owner_.chains_.pop_back();
        owner_.nodes_.resize(firstNode_);
        owner_.blocks_.resize(firstBlock_);
        if (callerDesc_) *callerDesc_ = ole::TYPEDESC{};
    }

    void Commit() {
        const size_t nodes = owner_.nodes_.size() - firstNode_;
        const size_t blocks = owner_.blocks_.size() - firstBlock_;
        if (nodes || blocks) owner_.chains_.push_back({firstNode_, nodes, firstBlock_, blocks});
    }

private:
    TypeDescOwner& owner_;
    ole::TYPEDESC* callerDesc_;
    size_t firstNode_;
    size_t firstBlock_;
};

namespace modTYPEDESC {

namespace {
// Longer chains go the long way, which refuses what VarTypeInfo can't read.
constexpr int kMaxPlainChain = 32;
}  // namespace

ole::TYPEDESC* BuildTypeDesc(TypeDescOwner& owner, ole::ICreateTypeInfo* newType, tli::VarTypeInfo* vti,
                             ole::TYPEDESC* callerDesc, TypeReferenceMapper* mapper) {
    if (!vti || !newType) RaiseError(kErrObjectNotSet);
    TypeDescBuilder builder(owner, callerDesc);
    ScopeGuard rollback([&] { builder.Discard(); });

    ole::TYPEDESC* top = callerDesc ? callerDesc : builder.NewNode();
    *top = ole::TYPEDESC{};
    ole::TYPEDESC* cur = top;
    auto pointTo = [&](ole::VARTYPE vt) {
        ole::TYPEDESC* next = builder.NewNode();
        cur->vt = vt;
        cur->lptdesc = next;
        cur = next;
    };

    ole::SHORT levels = 0;
    CheckHr(vti->get_PointerLevel(&levels));
    for (int i = 0; i < levels; ++i) pointTo(ole::VT_PTR);

    ole::VARTYPE v = 0;
    CheckHr(vti->get_VarType(&v));
    const bool isArray = (v & tli::VTI_ARRAYMASK) != 0;
    if (v & tli::VTI_SAFEARRAY) {
        pointTo(ole::VT_SAFEARRAY);
    } else if (v & tli::VTI_FIXEDARRAY) {
        std::vector<tli::ArrayBound> bounds;
        ole::SHORT dims = 0;
        // A fixed-size array without bounds gets a descriptor of no dimensions.
        const ole::HRESULT hr = vti->ArrayBounds(&bounds, &dims);
        if (hr == tli::TLI_E_NOARRAYBOUNDS) {
            bounds.clear();
            dims = 0;
        } else {
            CheckHr(hr);
        }
        if (dims < 0 || static_cast<size_t>(dims) != bounds.size()) RaiseError(kErrInvalidArgument);
        for (const tli::ArrayBound& b : bounds) {
            const int64_t count = int64_t{b.upper} - int64_t{b.lower} + 1;
            if (count < 1 || count > 0xFFFFFFFFll) RaiseError(kErrInvalidArgument);
        }
        ole::ARRAYDESC* block = builder.NewBlock(bounds.size());
        block->cDims = static_cast<ole::USHORT>(bounds.size());
        ole::SAFEARRAYBOUND* rg = block->rgbounds;
        for (size_t i = 0; i < bounds.size(); ++i) {
            rg[i].cElements = static_cast<ole::ULONG>(int64_t{bounds[i].upper} - bounds[i].lower + 1);
            rg[i].lLbound = bounds[i].lower;
        }
        cur->vt = ole::VT_CARRAY;
        cur->lpadesc = block;
        cur = &block->tdescElem;
    }
    v = static_cast<ole::VARTYPE>(v & 0xCFFF);
    if (isArray) {
        ole::SHORT elementLevels = 0;
        CheckHr(vti->get_ElementPointerLevel(&elementLevels));
        for (int i = 0; i < elementLevels; ++i) pointTo(ole::VT_PTR);
    }

    if (v != 0) {
        cur->lptdesc = nullptr;
        cur->vt = v;
    } else {
        ComPtr<tli::TypeInfo> type;
        if (mapper) {
            type = mapper->GetVarTypeTypeInfo(vti);
        } else {
            CheckHr(vti->get_TypeInfo(type.put()));
        }
        type = VTableInterfaceOrSelf(type);
        ole::HREFTYPE href = 0;
        if (mapper) {
            href = mapper->MapReferencedType(type.get(), newType);
        } else {
            ComPtr<ole::ITypeInfo> ti = ITypeInfoOf(type.get());
            CheckHr(newType->AddRefTypeInfo(ti.get(), &href));
        }
        cur->vt = ole::VT_USERDEFINED;
        cur->hreftype = href;
    }

    builder.Commit();
    rollback.Dismiss();
    return top;
}

bool PlainUserDefinedRef(const ole::TYPEDESC& desc, ole::HREFTYPE* href) {
    bool array = false;
    const ole::TYPEDESC* t = &desc;
    for (int depth = 0; t && depth <= kMaxPlainChain; ++depth) {
        switch (t->vt) {
            case ole::VT_USERDEFINED:
                *href = t->hreftype;
                return true;
            case ole::VT_SAFEARRAY:
                if (array) return false;
                array = true;
                [[fallthrough]];
            case ole::VT_PTR:
                t = t->lptdesc;
                break;
            default:
                return false;
        }
    }
    return false;
}

void RebuildWithRef(TypeDescOwner& owner, ole::TYPEDESC& desc, ole::HREFTYPE href) {
    TypeDescBuilder builder(owner, &desc);
    ScopeGuard rollback([&] { builder.Discard(); });
    ole::TYPEDESC* cur = &desc;
    while (cur->vt != ole::VT_USERDEFINED) {
        ole::TYPEDESC* next = builder.NewNode();
        *next = *cur->lptdesc;
        cur->lptdesc = next;
        cur = next;
    }
    cur->hreftype = href;
    builder.Commit();
    rollback.Dismiss();
}

}  // namespace modTYPEDESC
}  // namespace zephrin
