#include "dialogs/modDependencyWalker.h"

#include "foundation/ErrorRecord.h"
#include "typelib/BaseTICache.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::dialogs::modDependencyWalker {

using ole::ComPtr;
using typelib_detail::FuncDescHolder;
using typelib_detail::SameObject;
using typelib_detail::TypeAttr;

namespace {

struct DependencyWalkContext {
    ole::ITypeLib* walkedLibrary = nullptr;  // identity only, no reference held
    ITypeInfoDependencyWalker* walker = nullptr;
    ITypeInfoDependencyWalker2* walker2 = nullptr;  // set when the callback takes context
    ole::ITypeInfo* currentType = nullptr;
    int32_t typeIndex = 0;
    int32_t contextKind = 0;
    int32_t memberId = 0;
    int32_t invokeKind = 0;
    int32_t paramIndex = -1;
    int32_t paramFlags = 0;
};

void SetContext(DependencyWalkContext& ctx, int32_t kind, int32_t memberId, int32_t invokeKind, int32_t paramIndex,
                int32_t paramFlags) {
    if (ctx.walker2) CheckHr(ctx.walker2->OnSetContext(kind, memberId, invokeKind, paramIndex, paramFlags));
}

void ReportReference(DependencyWalkContext& ctx, ComPtr<ole::ITypeInfo> type, bool direct) {
    modITypeInfoHelper::ResolveDualInterface(type);
    ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    CheckHr(type->GetContainingTypeLib(lib.put(), &index));
    ole::TYPEKIND kind{};
    CheckHr(lib->GetTypeInfoType(index, &kind));
    // The library is compared by its pointer, as it was handed to the walk.
    ole::ITypeLib* reported = lib.get() == ctx.walkedLibrary ? nullptr : lib.get();
    CheckHr(ctx.walker->OnReferenceTypeInfo(type.get(), static_cast<int32_t>(kind), static_cast<int32_t>(index),
                                            reported, direct));
}

void WalkTypeDesc(DependencyWalkContext& ctx, const ole::TYPEDESC& desc) {
    const ole::TYPEDESC* td = &desc;
    bool through = false;
    for (;;) {
        switch (td->vt) {
        case ole::VT_PTR:
            through = true;
            td = td->lptdesc;
            continue;
        case ole::VT_SAFEARRAY:
            td = td->lptdesc;
            continue;
        case ole::VT_CARRAY:
            through = true;
            td = &td->lpadesc->tdescElem;
            continue;
        case ole::VT_USERDEFINED:
            break;
        default:
            return;
        }
        break;
    }
    SetContext(ctx, ctx.contextKind, ctx.memberId, ctx.invokeKind, ctx.paramIndex, ctx.paramFlags);
    ComPtr<ole::ITypeInfo> ref;
    CheckHr(ctx.currentType->GetRefTypeInfo(td->hreftype, ref.put()));
    ReportReference(ctx, std::move(ref), !through);
}

ComPtr<ole::ITypeInfo> ImplementedType(ole::ITypeInfo* ti, ole::UINT index) {
    ole::HREFTYPE href = 0;
    CheckHr(ti->GetRefTypeOfImplType(index, &href));
    ComPtr<ole::ITypeInfo> ref;
    CheckHr(ti->GetRefTypeInfo(href, ref.put()));
    return ref;
}

void WalkVariables(DependencyWalkContext& ctx, const ole::TYPEATTR& attr, int32_t varKind) {
    ctx.contextKind = varKind;
    ctx.invokeKind = 0;
    for (ole::UINT i = 0; i < attr.cVars; ++i) {
        ole::VARDESC* vd = nullptr;
        CheckHr(ctx.currentType->GetVarDesc(i, &vd));
        struct Release {
            ole::ITypeInfo* ti;
            ole::VARDESC* vd;
            ~Release() { ti->ReleaseVarDesc(vd); }
        } release{ctx.currentType, vd};
        ctx.memberId = vd->memid;
        WalkTypeDesc(ctx, vd->elemdescVar.tdesc);
    }
}

void WalkFunctions(DependencyWalkContext& ctx, const ole::TYPEATTR& attr, int32_t funcKind) {
    for (ole::UINT i = 0; i < attr.cFuncs; ++i) {
        FuncDescHolder fd(ctx.currentType, i);
        ctx.contextKind = funcKind;
        ctx.invokeKind = static_cast<int32_t>(fd->invkind);
        ctx.memberId = fd->memid;
        WalkTypeDesc(ctx, fd->elemdescFunc.tdesc);
        if (fd->cParams <= 0) continue;
        ctx.contextKind = funcKind + 2;
        const bool put = (fd->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
        for (int32_t j = 0; j < fd->cParams; ++j) {
            ctx.paramIndex = put && j == fd->cParams - 1 ? -1 - j : j;
            ctx.paramFlags = fd->lprgelemdescParam[j].paramdesc.wParamFlags;
            try {
                WalkTypeDesc(ctx, fd->lprgelemdescParam[j].tdesc);
            } catch (...) {
                ctx.paramIndex = -1;
                ctx.paramFlags = 0;
                throw;
            }
        }
        ctx.paramIndex = -1;
        ctx.paramFlags = 0;
    }
}

void WalkTypeInfo(DependencyWalkContext& ctx, const ole::TYPEATTR& attr) {
    int32_t varKind = 0;
    int32_t funcKind = 0;
    switch (attr.typekind) {
    case ole::TKIND_RECORD:
    case ole::TKIND_UNION:
        varKind = static_cast<int32_t>(DependencyContext::RecordField);
        break;
    case ole::TKIND_MODULE:
        varKind = static_cast<int32_t>(DependencyContext::ModuleVariable);
        funcKind = static_cast<int32_t>(DependencyContext::ModuleFunctionReturn);
        break;
    case ole::TKIND_INTERFACE:
        if (attr.cImplTypes != 0) {
            ComPtr<ole::ITypeInfo> base = ImplementedType(ctx.currentType, 0);
            auto& cache = BaseTICache::Instance();
            if (!SameObject(base.get(), cache.IDispatch().get()) && !SameObject(base.get(), cache.IUnknown().get())) {
                SetContext(ctx, static_cast<int32_t>(DependencyContext::BaseInterface), 0, 0, -1, 0);
                ReportReference(ctx, std::move(base), true);
            }
        }
        funcKind = static_cast<int32_t>(DependencyContext::FunctionReturn);
        break;
    case ole::TKIND_DISPATCH:
        varKind = static_cast<int32_t>(DependencyContext::DispatchVariable);
        funcKind = static_cast<int32_t>(DependencyContext::FunctionReturn);
        break;
    case ole::TKIND_COCLASS:
        for (ole::UINT j = 0; j < attr.cImplTypes; ++j) {
            SetContext(ctx, static_cast<int32_t>(DependencyContext::ImplementedInterface), static_cast<int32_t>(j), 0,
                       -1, 0);
            ReportReference(ctx, ImplementedType(ctx.currentType, j), false);
        }
        return;
    case ole::TKIND_ALIAS:
        ctx.contextKind = static_cast<int32_t>(DependencyContext::AliasTarget);
        ctx.memberId = -1;
        ctx.invokeKind = 0;
        WalkTypeDesc(ctx, attr.tdescAlias);
        return;
    default:
        break;
    }
    if (attr.cVars != 0) WalkVariables(ctx, attr, varKind);
    if (attr.cFuncs != 0) WalkFunctions(ctx, attr, funcKind);
}

}  // namespace

void WalkTypeLib(ole::ITypeLib* lib, ITypeInfoDependencyWalker* walker) {
    if (!lib || !walker) RaiseError(typelib_detail::kErrObjectNotSet);
    DependencyWalkContext ctx;
    ComPtr<ITypeInfoDependencyWalker2> walker2;
    if (ole::SUCCEEDED(walker->QueryInterface(ITypeInfoDependencyWalker2::kIID, walker2.put_void()))) {
        ctx.walker2 = walker2.get();
    }
    ctx.walker = walker;
    ctx.walkedLibrary = lib;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ctx.typeIndex = static_cast<int32_t>(i);
        CheckHr(walker->OnStartNewType(static_cast<int32_t>(i)));
        ole::TYPEKIND kind{};
        CheckHr(lib->GetTypeInfoType(i, &kind));
        if (kind == ole::TKIND_ENUM) continue;
        ComPtr<ole::ITypeInfo> ti;
        CheckHr(lib->GetTypeInfo(i, ti.put()));
        modITypeInfoHelper::ResolveDualInterface(ti);
        ctx.currentType = ti.get();
        TypeAttr attr(ti.get());
        WalkTypeInfo(ctx, *attr);
        ctx.currentType = nullptr;
    }
}

}  // namespace zephrin::dialogs::modDependencyWalker
