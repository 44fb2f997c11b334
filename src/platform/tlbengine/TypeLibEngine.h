// Internal classes of the in-memory type library engine. Users include
// TypeLibInterfaces.h and TypeLibData.h; this header is for the engine's own
// sources and white-box tests.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace ole::engine {

class LibraryImpl;
class TypeInfoImpl;
class DispatchView;

// One layout computation: the types being laid out (meeting one again is a
// cycle) and the sizes found so far. A type that many fields use, as in
// nested records, is sized once per pass, so a pass costs time linear in the
// fields it reaches.
struct LayoutPass {
    struct Size {
        HRESULT hr = S_OK;
        ULONG size = 0;
        WORD align = 0;
    };
    std::vector<TypeInfoImpl*> visiting;
    std::unordered_map<const TypeInfoImpl*, Size> instances;  // InstanceSize
    std::unordered_map<const TypeInfoImpl*, WORD> vtables;    // VtableSize
};

// ---- Helpers (DescriptorCopy.cpp) ----

// Case-insensitive key of a name (simple case folding of Latin, Greek and Cyrillic letters).
std::u16string FoldName(std::u16string_view name);
std::u16string_view ViewOf(LPCOLESTR s);

// The longest name and text a library file holds, in bytes of the ANSI code
// page it stores them in (one byte for each UTF-16 unit). The calls that set a
// longer one fail with E_INVALIDARG and change nothing, so that every library
// that can be edited can also be saved.
inline constexpr size_t kMaxNameBytes = 255;
inline constexpr size_t kMaxTextBytes = 0xFFFF;
inline bool NameFits(LPCOLESTR s) { return ViewOf(s).size() <= kMaxNameBytes; }
inline bool TextFits(LPCOLESTR s) { return ViewOf(s).size() <= kMaxTextBytes; }

// Deep copy of a caller's TYPEDESC chain, checked (E_INVALIDARG on null links or nesting deeper than 64).
HRESULT CopyTypeDesc(const TYPEDESC& src, TypeDescData& out);
// Deep copy of a caller's ELEMDESC (type, flags and default value).
HRESULT CopyParam(const ELEMDESC& src, ParamData& out);

// A function as a reader presents it: a function of the type's data or, in a
// dual's dispatch view, a function of the interface chain in dispatch form
// (FUNC_DISPATCH; a trailing [retval] parameter becomes the result, else an
// HRESULT result becomes VOID; a trailing [lcid] parameter is dropped).
struct FuncView {
    const FuncData* f = nullptr;
    bool dispatchForm = false;
    WORD addFlags = 0;  // FUNCFLAG_FRESTRICTED on a dispatch view's IUnknown and IDispatch functions
    // Parameters presented: the first ParamCount() of f->params.
    size_t ParamCount() const;
    const TypeDescData& ReturnType() const;
    FUNCKIND Kind() const { return dispatchForm ? FUNC_DISPATCH : f->funckind; }
    WORD Flags() const { return static_cast<WORD>(f->flags | addFlags); }
    SHORT ParamsOpt() const;
};

// Descriptors handed to callers: one block each, freed by the matching Free*.
FUNCDESC* MakeFuncDesc(const FuncView& f);
inline FUNCDESC* MakeFuncDesc(const FuncData& f) { return MakeFuncDesc(FuncView{&f}); }
VARDESC* MakeVarDesc(const VarData& v);
TYPEATTR* MakeTypeAttr(const TypeData& t, LCID lcid, size_t cFuncs);
void FreeFuncDesc(FUNCDESC* p);
void FreeVarDesc(VARDESC* p);
void FreeTypeAttr(TYPEATTR* p);

// Custom data.
HRESULT CheckCustValue(const VARIANT* v);
HRESULT SetCustItem(CustDataList& list, const GUID& guid, const VARIANT& v);
HRESULT GetCustItem(const CustDataList& list, const GUID& guid, VARIANT* out);
HRESULT FillCustData(const CustDataList& list, CUSTDATA* out);

// A BSTR copy of text, or null for "" when nullForEmpty.
BSTR MakeBstr(std::u16string_view s, bool nullForEmpty = false);
inline void PutBstr(BSTR* out, std::u16string_view s, bool nullForEmpty = false) {
    if (out) *out = MakeBstr(s, nullForEmpty);
}

// Win32 (or Win64) size and natural alignment of an intrinsic VARTYPE (8 for
// 8-byte scalars, DECIMAL and VARIANT, the pointer size for pointers); false
// for VT_USERDEFINED, VT_CARRAY and unknown types. Callers cap the alignment
// by the type's alignment setting (4 by default).
bool IntrinsicSize(VARTYPE vt, int ptrSize, ULONG* size, WORD* align);

// Injected failure for a creation-interface method of owner ("ICreateTypeLib2"
// or "ICreateTypeInfo2"); S_OK when none is armed.
HRESULT InjectedFailure(const char* method, const char* owner);
// The file writer set with SetTypeLibWriter (empty when none).
TypeLibWriter CurrentWriter();

// ---- Member lookup tables ----

// Key of a name for the name tables: a 64-bit hash of its case-folded text
// (no copy is made). Equal keys may still name different members: compare
// with SameName.
uint64_t NameKey(std::u16string_view name);
// Case-insensitive equality of two names (the folding of FoldName).
bool SameName(std::u16string_view a, std::u16string_view b);
// Spreads the bits of a 64-bit value (the splitmix64 finalizer).
inline uint64_t Mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
// Key of a member id for the id tables.
inline uint64_t IdKey(MEMBERID id) { return Mix64(static_cast<uint32_t>(id)); }

// A hash table from a 64-bit key to the members carrying it, chained in
// index order: one open-addressing slot per distinct key plus one link per
// member, so building it allocates three times whatever the member count.
// Member insertions and deletions in the middle shift the stored indexes in
// place. A table never built is one null pointer (every type has four).
class ChainMap {
public:
    class Chain {
    public:
        struct Iter {
            int i;
            const std::vector<int>* next;
            int operator*() const { return i; }
            Iter& operator++() {
                i = (*next)[static_cast<size_t>(i)];
                return *this;
            }
            bool operator!=(const Iter& o) const { return i != o.i; }
        };
        Chain(int first, const std::vector<int>* next) : first_(first), next_(next) {}
        bool empty() const { return first_ < 0; }
        int front() const { return first_; }
        Iter begin() const { return {first_, next_}; }
        Iter end() const { return {-1, next_}; }

    private:
        int first_;
        const std::vector<int>* next_;
    };

    // Empties the table, sized for `members` members.
    void Clear(size_t members);
    Chain Find(uint64_t key) const;
    // Adds member i in index order.
    void Insert(uint64_t key, int i);
    // Takes member i out of the chain of key.
    void Remove(uint64_t key, int i);
    // A member was inserted at index `at` (not yet in any chain): later members move up by one.
    void OpenGap(int at);
    // The member at index `at`, already removed, was deleted: later members move down by one.
    void CloseGap(int at);

private:
    struct Slot {
        uint64_t key = 0;
        int first = -1;  // -1: free slot
        int last = -1;
    };
    struct Tables {
        std::vector<Slot> slots;  // power-of-two size, at most half full
        size_t used = 0;
        std::vector<int> next;    // member -> next member with the same key, -1 at the end
    };
    Tables& Built();  // the tables, made empty when there are none yet
    size_t SlotOf(uint64_t key) const;  // the key's slot, or the free slot where it goes
    void Rehash(size_t capacity);
    void Grow(int i);
    void EraseSlot(size_t s);
    std::unique_ptr<Tables> t_;
};

// The id tables and the name tables are built separately, each on first use
// (under the library's lock, published through the flags), and kept up to
// date by the edits that move members.
struct MemberIndex {
    std::atomic<bool> idsValid{false};
    std::atomic<bool> namesValid{false};
    ChainMap funcsByName;  // NameKey -> functions (named ones only)
    ChainMap varsByName;   // NameKey -> variables (named ones only)
    ChainMap funcsById;    // IdKey -> functions
    ChainMap varsById;     // IdKey -> variables
    void Reset() {
        idsValid.store(false, std::memory_order_relaxed);
        namesValid.store(false, std::memory_order_relaxed);
    }
    // Maintenance after edits of the member lists.
    void FuncInserted(int index, const FuncData& f);
    void FuncRemoving(int index, const FuncData& f);
    void VarInserted(int index, const VarData& v);
    void VarRemoving(int index, const VarData& v);
};

// ---- The reading side of a type (TypeInfo.cpp) ----

// Flags of a dual's dispatch view, from those of its interface half.
WORD DispatchViewFlags(WORD interfaceFlags);

class TypeReader : public ITypeInfo2, public ITypeComp {
public:
    explicit TypeReader(LibraryImpl* lib) : lib_(lib) {}
    virtual ~TypeReader() = default;
    TypeReader(const TypeReader&) = delete;
    TypeReader& operator=(const TypeReader&) = delete;

    LibraryImpl* Library() const { return lib_; }
    // The type as data; null for a deleted type.
    virtual const TypeData* Data() = 0;
    virtual TypeInfoImpl* Owner() = 0;
    virtual bool IsDispatchView() const = 0;
    // Index of the first function declared by the type itself (a dispatch view lists inherited ones first).
    virtual size_t OwnFunctionsStart() { return 0; }
    // The functions as presented. A dispatch view brings itself up to date
    // with the library first, so what these return never lags behind an edit.
    // The FuncView returned is good until the next edit of the library.
    size_t FuncCount();
    FuncView Func(size_t i);
    // Lookup tables by member id, and by name.
    const MemberIndex& Ids();
    const MemberIndex& Names();
    // A type of few members is searched in place while it has no tables:
    // building them costs more than they save.
    static constexpr size_t kScanMembers = 16;
    // True when a lookup by id should scan (function ids are fixed first).
    bool ScanById();
    // True when a lookup by name should scan.
    bool ScanByName(const TypeData& t) const {
        return !index_.namesValid.load(std::memory_order_acquire) && t.funcs.size() + t.vars.size() <= kScanMembers;
    }

    ULONG AddRef() override;
    ULONG Release() override;

    // ITypeInfo
    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    HRESULT GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    HRESULT Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override;
    HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                        WORD* pwOrdinal) override;
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) override;
    HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) override;
    HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
    void ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
    void ReleaseVarDesc(VARDESC* pVarDesc) override;
    // ITypeInfo2
    HRESULT GetTypeKind(TYPEKIND* pTypeKind) override;
    HRESULT GetTypeFlags(ULONG* pTypeFlags) override;
    HRESULT GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) override;
    HRESULT GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) override;
    HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetDocumentation2(MEMBERID memid, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                              BSTR* pbstrHelpStringDll) override;
    HRESULT GetAllCustData(CUSTDATA* pCustData) override;
    HRESULT GetAllFuncCustData(UINT index, CUSTDATA* pCustData) override;
    HRESULT GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) override;
    HRESULT GetAllVarCustData(UINT index, CUSTDATA* pCustData) override;
    HRESULT GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) override;
    // ITypeComp
    HRESULT Bind(LPOLESTR szName, ULONG lHashVal, WORD wFlags, ITypeInfo** ppTInfo, DESCKIND* pDescKind,
                 BINDPTR* pBindPtr) override;
    HRESULT BindType(LPOLESTR szName, ULONG lHashVal, ITypeInfo** ppTInfo, ITypeComp** ppTComp) override;

    // The base interface (impltype 0) of an interface, for inherited lookups; null when none.
    ComPtr<ITypeInfo> BaseInterface();

protected:
    // The functions as last presented, without bringing a dispatch view up to
    // date: for FuncCount and Func, and for building the lookup tables under
    // the library's lock right after they did.
    virtual size_t PresentedCount() = 0;
    virtual FuncView PresentedFunc(size_t i) = 0;
    void InvalidateIndex() { index_.Reset(); }
    // Finds the first function, then variable, with memid; false when absent.
    bool FindMember(MEMBERID memid, FuncView* f, const VarData** v);
    // The function at index as presented; f null when out of range.
    FuncView FuncAtIndex(UINT index);

    LibraryImpl* lib_;
    MemberIndex index_;
};

// The dispatch view of a dual interface (from the moment it is flagged dual),
// derived from its interface half, or of a dispinterface declared over an
// interface.
//
// The view points at functions it does not copy: the interface's own, those
// of its bases in the same library, and shared copies of foreign bases'
// functions (which it co-owns). Every way in (Data, FuncCount, Func) first
// checks the view against the library's edit count and rebuilds it when the
// library changed, so the pointers are never read after an edit moved them.
class DispatchView final : public TypeReader {
public:
    DispatchView(LibraryImpl* lib, TypeInfoImpl* owner) : TypeReader(lib), owner_(owner) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return TypeReader::AddRef(); }
    ULONG Release() override { return TypeReader::Release(); }
    const TypeData* Data() override;
    TypeInfoImpl* Owner() override { return owner_; }
    bool IsDispatchView() const override { return true; }
    size_t OwnFunctionsStart() override;

protected:
    size_t PresentedCount() override { return funcs_.size(); }
    FuncView PresentedFunc(size_t i) override { return funcs_[i]; }

private:
    // Brings the view up to date with the library.
    void Refresh();
    void Rebuild(uint64_t stamp);
    TypeInfoImpl* owner_;
    TypeData synth_;                  // attributes and implemented types; the functions are funcs_
    std::vector<FuncView> funcs_;     // inherited functions, then the interface's own
    std::vector<std::shared_ptr<const std::vector<FuncData>>> imported_;  // keeps foreign bases' functions
    size_t inherited_ = 0;
    std::atomic<uint64_t> stamp_{~uint64_t{0}};  // edit count the view was built at
};

// A type of a created or loaded library: its interface half for duals.
class TypeInfoImpl final : public TypeReader,
                           public ICreateTypeInfo2,
                           public ICreateTypeInfoRoom,
                           public ICreateTypeInfoValueName,
                           public ICreateTypeInfoSharedName,
                           public ICreateTypeInfoAlignment {
public:
    // A created type owning its data.
    TypeInfoImpl(LibraryImpl* lib, std::unique_ptr<TypeData> data);
    // A loaded type reading the library's shared data (never written).
    TypeInfoImpl(LibraryImpl* lib, const TypeData* data);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return TypeReader::AddRef(); }
    ULONG Release() override { return TypeReader::Release(); }

    const TypeData* Data() override { return deleted_ ? nullptr : data_; }
    TypeInfoImpl* Owner() override { return this; }
    bool IsDispatchView() const override { return false; }

    // The object the library hands out for this type: the dispatch view of a
    // dual, else the type itself.
    TypeReader* LibraryItem();
    DispatchView* View();
    bool IsDualActive() const;
    // A laid-out dispinterface declared over an interface (a second implemented type).
    bool DispatchesInterface() const;
    bool IsDeleted() const { return deleted_; }
    bool IsLaidOut() const { return laidOut_; }
    UINT IndexInLibrary() const { return index_in_lib_; }
    void SetIndexInLibrary(UINT i) { index_in_lib_ = i; }
    // The object stays alive for callers still holding it; its members are dropped.
    void MarkDeleted();
    // Gives the functions added without an id theirs (see LayOut.cpp). Every
    // way of reading functions calls it first; readers of one library may
    // call it at the same time.
    void FixFunctionIds();
    const TypeData& Raw() const { return *data_; }
    // A created type's data, lent out whole (moved, not copied) and given
    // back: while lent, the type reads as empty. Only for the save, which is
    // an edit, so no reader runs meanwhile; the buffers go out and come back
    // unchanged, so what points into them stays good.
    TypeData LendData() { return std::move(*owned_); }
    void ReturnData(TypeData&& data) { *owned_ = std::move(data); }

    // ICreateTypeInfo
    HRESULT SetGuid(REFGUID guid) override;
    HRESULT SetTypeFlags(UINT uTypeFlags) override;
    HRESULT SetDocString(LPCOLESTR pStrDoc) override;
    HRESULT SetHelpContext(DWORD dwHelpContext) override;
    HRESULT SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) override;
    HRESULT AddRefTypeInfo(ITypeInfo* pTInfo, HREFTYPE* phRefType) override;
    HRESULT AddFuncDesc(UINT index, FUNCDESC* pFuncDesc) override;
    HRESULT AddImplType(UINT index, HREFTYPE hRefType) override;
    HRESULT SetImplTypeFlags(UINT index, INT implTypeFlags) override;
    HRESULT SetAlignment(WORD cbAlignment) override;
    HRESULT SetSchema(LPCOLESTR pStrSchema) override;
    HRESULT AddVarDesc(UINT index, VARDESC* pVarDesc) override;
    HRESULT ReserveMembers(UINT cFuncs, UINT cVars) override;
    HRESULT SetFuncAndParamNames(UINT index, LPOLESTR* rgszNames, UINT cNames) override;
    HRESULT SetValueParamName(UINT index, LPCOLESTR szName) override;
    HRESULT SetFuncAndParamNamesSharingId(UINT index, LPOLESTR* rgszNames, UINT cNames) override;
    HRESULT GetNaturalAlignment(WORD* pcbAlignment) override;
    HRESULT GetAlignmentSetting(WORD* pcbAlignment) override;
    HRESULT SetVarName(UINT index, LPCOLESTR szName) override;
    HRESULT SetTypeDescAlias(TYPEDESC* pTDescAlias) override;
    HRESULT DefineFuncAsDllEntry(UINT index, LPCOLESTR szDllName, const DllEntryPoint& entry) override;
    HRESULT SetFuncDocString(UINT index, LPCOLESTR szDocString) override;
    HRESULT SetVarDocString(UINT index, LPCOLESTR szDocString) override;
    HRESULT SetFuncHelpContext(UINT index, DWORD dwHelpContext) override;
    HRESULT SetVarHelpContext(UINT index, DWORD dwHelpContext) override;
    HRESULT SetMops(UINT index, BSTR bstrMops) override;
    HRESULT SetTypeIdldesc(IDLDESC* pIdlDesc) override;
    HRESULT LayOut() override;
    // ICreateTypeInfo2
    HRESULT DeleteFuncDesc(UINT index) override;
    HRESULT DeleteFuncDescByMemId(MEMBERID memid, INVOKEKIND invKind) override;
    HRESULT DeleteVarDesc(UINT index) override;
    HRESULT DeleteVarDescByMemId(MEMBERID memid) override;
    HRESULT DeleteImplType(UINT index) override;
    HRESULT SetCustData(REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetHelpStringContext(ULONG dwHelpStringContext) override;
    HRESULT SetFuncHelpStringContext(UINT index, ULONG dwHelpStringContext) override;
    HRESULT SetVarHelpStringContext(UINT index, ULONG dwHelpStringContext) override;
    HRESULT Invalidate() override;
    HRESULT SetName(LPCOLESTR szName) override;

    // Layout without committing: what LayOut would set (LayOut.cpp).
    struct Layout {
        WORD flags = 0;
        WORD cbSizeVft = 0;
        WORD cbAlignment = 4;
        ULONG cbSizeInstance = 0;
        std::vector<SHORT> oVfts;
        std::vector<MEMBERID> funcIds;  // empty when every function has its id
        std::vector<MEMBERID> varIds;
        std::vector<ULONG> oInsts;
        std::vector<ImplTypeData> addImpl;  // implied IDispatch of a dispinterface
    };
    HRESULT ComputeLayout(Layout& out, LayoutPass& pass);
    // The inheritance depth of the type's functions (interfaces: the number of
    // interfaces in the base chain; dispinterfaces: that of IDispatch, 2).
    int InheritanceDepth();
    // Size and alignment of an instance, computing this type's layout when needed.
    HRESULT InstanceSize(ULONG* size, WORD* align, LayoutPass& pass);
    // Vtable size, computed (not read) for types of this library.
    HRESULT VtableSize(WORD* size, LayoutPass& pass);

protected:
    size_t PresentedCount() override { return data_->funcs.size(); }
    FuncView PresentedFunc(size_t i) override { return FuncView{&data_->funcs[i]}; }

private:
    // Common entry checks of the creation methods, and the one way to the
    // type's data for writing: *data is set only for a type of a created
    // library that is not deleted (loaded types have no writable data).
    HRESULT Begin(const char* method, TypeData** data = nullptr);
    void Touched();
    // Sets the functions' ids to ids, keeping the id tables up to date.
    void CommitFuncIds(TypeData& t, const std::vector<MEMBERID>& ids);
    // SetFuncAndParamNames; with sharingId, the name may be that of functions of
    // the same explicit member ID and another invoke kind.
    HRESULT NameFunction(UINT index, LPOLESTR* rgszNames, UINT cNames, bool sharingId);
    // The vtable size an interface inherits: its base's as it stands, at this
    // library's pointer size; 0 without a base (LayOut.cpp).
    ULONG InheritedVtableSize();
    // After the base changed: automatic offsets follow the inherited slots and
    // the vtable size follows them.
    void RefitToBase(TypeData& t);
    // After a function or the base changed: an interface's vtable size as its
    // functions now need it (inherited slots, one per function, explicit offsets).
    void FitVtable(TypeData& t);

    const TypeData* data_;             // what readers see: owned_, or a loaded library's shared data
    std::unique_ptr<TypeData> owned_;  // a created type's data; null for loaded types
    std::unique_ptr<DispatchView> viewOwner_;
    std::atomic<DispatchView*> view_{nullptr};  // made on first use
    UINT index_in_lib_ = 0;
    bool deleted_ = false;
    bool laidOut_ = false;
    std::atomic<bool> idsPending_{false};   // a function added without an id has none yet
    std::atomic<uint64_t> depthStamp_{~uint64_t{0}};  // LibraryImpl::BasesEditCount() depth_ was computed at
    std::atomic<int> depth_{0};
};

// A link of a base-interface chain.
struct ChainLink {
    ComPtr<ITypeInfo> ti;
    TypeReader* reader = nullptr;  // when the type is an engine object
};
// Walks the base chain from `first` (the base of `self`, which may be null) to
// the root, taking the interface half of duals. TYPE_E_CIRCULARTYPE when the
// chain reaches self or loops.
HRESULT WalkBases(ITypeInfo* first, TypeInfoImpl* self, std::vector<ChainLink>& out);
// A set of member ids (open addressing: no allocation per id).
class IdSet {
public:
    explicit IdSet(size_t expected);
    bool Contains(MEMBERID id) const;
    void Insert(MEMBERID id);

private:
    static constexpr uint64_t kFree = ~uint64_t{0};
    size_t SlotOf(MEMBERID id) const;
    std::vector<uint64_t> slots_;  // the id as an unsigned value, or kFree
    size_t used_ = 0;
};
// Every function id of the chain (for collision checks).
void CollectChainIds(const std::vector<ChainLink>& chain, IdSet& ids);
// Reads one base type's function as data, with its references taken into lib.
HRESULT ImportFunc(ChainLink& link, UINT index, LibraryImpl& lib, FuncData& out);
HRESULT ImportFuncCount(ChainLink& link, UINT* count);
// Pointer size of the library the link's type belongs to (4 when unknown).
int PtrSizeOf(ChainLink& link);
// The GUID of the link's type (GUID_NULL when it cannot be read).
GUID LinkGuid(ChainLink& link);
// True when the link is IUnknown or IDispatch (their functions are restricted in dispatch views).
bool IsRootInterface(ChainLink& link);

// ---- The library (TypeLib.cpp) ----
//
// Threads. A loaded library (the file cache and the built-in stdole2 share one
// object among all their callers) may be read from any number of threads at
// once: its data never changes, and what reading builds lazily (dispatch
// views, member tables, the GUID table, references and the functions taken
// in from other libraries' bases) is built under the library's LazyMutex and
// published once. A created library is the same while nobody edits it; an
// edit must not run alongside any other call on that library.
class LibraryImpl final : public ITypeLib2, public ICreateTypeLib2 {
public:
    // Created library.
    LibraryImpl(SYSKIND syskind, std::u16string path);
    // Loaded library.
    LibraryImpl(std::shared_ptr<const LibraryData> data, std::u16string path);
    ~LibraryImpl();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;

    bool ReadOnly() const { return readOnly_; }
    const LibraryData& Attr() const { return *attr_; }
    int PtrSize() const { return Attr().syskind == SYS_WIN64 ? 8 : 4; }
    uint64_t EditCount() const { return edits_.load(std::memory_order_acquire); }
    // Counts, over all libraries, the edits that can change a base chain
    // (implemented types added or deleted, types deleted).
    static uint64_t BasesEditCount();
    static void BasesTouched();
    // Edits run on one thread at a time (see below): no read-modify-write needed.
    void Touched() { edits_.store(edits_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
    // Guards the lazily built state of the library and its types (see the
    // threading note above). Held only briefly, never while calling into
    // another library or the import resolver.
    std::mutex& LazyMutex() { return lazy_; }
    const std::u16string& Path() const { return path_; }
    std::vector<std::unique_ptr<TypeInfoImpl>>& Types() { return types_; }

    // References.
    HRESULT InternRef(ITypeInfo* ti, HREFTYPE* out);
    HRESULT ResolveRef(HREFTYPE href, ITypeInfo** out);
    bool HasRef(HREFTYPE href);
    // The engine object a reference names, when it is a type of this library; null otherwise.
    TypeReader* InternalTarget(HREFTYPE href);
    // IDispatch of the standard library, when it can be found.
    HRESULT StdDispatch(ITypeInfo** out);
    // The functions of a base interface of another library, with their
    // references taken into this library; shared by every dispatch view
    // standing on that base until this library changes.
    HRESULT ImportedFunctions(ChainLink& link, std::shared_ptr<const std::vector<FuncData>>* out);
    // A reference that fails when followed (for types that could not be taken in).
    HREFTYPE MissingRef();

    // Type names.
    TypeInfoImpl* FindType(std::u16string_view name);
    // The types by folded name, built on first use: a library that is only
    // walked never needs it.
    ChainMap& ByName();
    HRESULT RenameType(TypeInfoImpl* t, std::u16string_view name);
    // The type other than t that holds guid (null when none does). The GUID
    // index is built on first use under LazyMutex, then kept up to date by
    // GuidChanged, or dropped by GuidsChanged for a later rebuild.
    TypeInfoImpl* GuidHolder(const GUID& guid, const TypeInfoImpl* t);
    // t's GUID changed from old to its present one.
    void GuidChanged(TypeInfoImpl* t, const GUID& old);
    void GuidsChanged() { guidIndexValid_.store(false, std::memory_order_relaxed); }

    std::shared_ptr<const LibraryData> Snapshot();

    // ITypeLib
    UINT GetTypeInfoCount() override;
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) override;
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override;
    HRESULT GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override;
    HRESULT IsName(LPOLESTR szNameBuf, ULONG lHashVal, INT* pfName) override;
    HRESULT FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                     USHORT* pcFound) override;
    void ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;
    // ITypeLib2
    HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetLibStatistics(ULONG* pcUniqueNames, ULONG* pcchUniqueNames) override;
    HRESULT GetDocumentation2(INT index, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                              BSTR* pbstrHelpStringDll) override;
    HRESULT GetAllCustData(CUSTDATA* pCustData) override;
    // ICreateTypeLib
    HRESULT CreateTypeInfo(LPCOLESTR szName, TYPEKIND tkind, ICreateTypeInfo** ppCTInfo) override;
    HRESULT SetName(LPCOLESTR szName) override;
    HRESULT SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) override;
    HRESULT SetGuid(REFGUID guid) override;
    HRESULT SetDocString(LPCOLESTR szDoc) override;
    HRESULT SetHelpFileName(LPCOLESTR szHelpFileName) override;
    HRESULT SetHelpContext(DWORD dwHelpContext) override;
    HRESULT SetLcid(LCID lcid) override;
    HRESULT SetLibFlags(UINT uLibFlags) override;
    HRESULT SaveAllChanges() override;
    // ICreateTypeLib2
    HRESULT DeleteTypeInfo(LPCOLESTR szName) override;
    HRESULT SetCustData(REFGUID guid, VARIANT* pVarVal) override;
    HRESULT SetHelpStringContext(ULONG dwHelpStringContext) override;
    HRESULT SetHelpStringDll(LPCOLESTR szFileName) override;

    // Lays out every type (SaveAllChanges, GetLibraryData).
    HRESULT LayOutAll();

private:
    struct RefSlot {
        RefData info;                 // kind, dual flag, import entry
        TypeReader* target = nullptr; // Internal: the object the reference names
        ComPtr<ITypeInfo> resolved;   // Live: the type; Imported: cached once resolved
    };
    class LibTypeComp;

    // Common entry checks of the creation methods, and the one way to the
    // library's attributes for writing (a loaded library has none).
    HRESULT Begin(const char* method, LibraryData** attrs = nullptr);
    // The library's references as data (Internal ones with current indexes,
    // those to deleted types Missing); the types' data must be in place.
    std::vector<RefData> RefsData();
    // Adds a slot; the caller holds lazy_.
    HRESULT AddSlot(RefSlot slot, HREFTYPE href);
    HREFTYPE FreeHref() const;
    TypeReader* ItemAt(UINT index);

    std::atomic<ULONG> refs_{0};
    bool readOnly_;
    std::shared_ptr<const LibraryData> loaded_;  // a loaded library's data, shared and never written
    std::unique_ptr<LibraryData> created_;       // a created library's attributes (its types hold their own data)
    const LibraryData* attr_;                    // one of the two
    std::u16string path_;
    std::atomic<uint64_t> edits_{0};
    std::mutex lazy_;

    std::vector<std::unique_ptr<TypeInfoImpl>> types_;
    std::vector<std::unique_ptr<TypeInfoImpl>> deleted_;
    ChainMap byName_;  // NameKey -> type indexes, once ByName built it
    std::atomic<bool> byNameBuilt_{false};
    std::unordered_map<GUID, TypeInfoImpl*> byGuid_;
    std::atomic<bool> guidIndexValid_{false};

    std::vector<RefSlot> slots_;
    std::unordered_map<HREFTYPE, size_t> refIndex_;
    std::unordered_map<const void*, HREFTYPE> refByTarget_;
    HREFTYPE nextHref_ = 0;
    bool hasMissing_ = false;
    HREFTYPE missingHref_ = 0;

    struct ImportedBase {
        ComPtr<ITypeInfo> ti;  // keeps the key alive
        uint64_t stamp = 0;
        std::shared_ptr<const std::vector<FuncData>> funcs;
    };
    std::unordered_map<const ITypeInfo*, ImportedBase> importedBases_;

    std::unique_ptr<LibTypeComp> comp_;
};

}  // namespace ole::engine
