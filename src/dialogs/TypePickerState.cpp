#include "dialogs/TypePickerState.h"

#include <algorithm>

#include "foundation/ErrorRecord.h"
#include "foundation/modBounds.h"
#include "foundation/modSupport.h"
#include "platform/tlbinf/TliSupport.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modPrototype.h"

namespace zephrin::dialogs {

namespace {

constexpr ole::VARTYPE kVtVoid = 24;
constexpr int32_t kFlagIn = 1;
constexpr int32_t kFlagOut = 2;
constexpr int32_t kFlagInOut = 3;

void CheckRange(int32_t value, int32_t low, int32_t high) {
    if (value < low || value > high) RaiseError(kErrInvalidArgument);
}

bool IsObjectKind(ole::TYPEKIND kind) {
    return kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH || kind == ole::TKIND_COCLASS;
}

ole::TYPEKIND KindOf(tli::TypeInfo* type) {
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    if (type) CheckHr(type->get_TypeKind(&kind));
    return kind;
}

}  // namespace

TypePickerState::TypePickerState() : type_(CustomVarTypeInfo::New()) {}

void TypePickerState::TypeUsage(int32_t value) {
    CheckRange(value, kUsageBaseInterface, kUsageImportLibrary);
    usage_ = value;
    const bool param = value == kUsageModuleParam || value == kUsageInterfaceParam || value == kUsageDispParam;
    if (!param)
        paramUsage_ = 0;
    else if (paramUsage_ == 0)
        paramUsage_ = 1;
}
void TypePickerState::TypeCompatibility(int32_t value) {
    CheckRange(value, kCompatNone, kCompatVBImplementable);
    compatibility_ = value;
}
void TypePickerState::ParamUsage(int32_t value) {
    CheckRange(value, 0, 16);
    paramUsage_ = value;
}
void TypePickerState::RedirectionType(int32_t value) {
    CheckRange(value, 0, 7);
    redirectionType_ = value;
}

void TypePickerState::StartSession(ole::ITypeLib* library, tli::VarTypeInfo* current, int32_t paramFlags,
                                   bool variantOnly) {
    rule_ = LibrarySession() ? TypeUsageRule{}
                             : TypeUsageRule::Evaluate(usage_, compatibility_, paramUsage_, redirectionType_,
                                                       paramFlags, variantOnly);
    if (LibrarySession()) {
        rule_.NoLibraryTypes = false;
        rule_.ArraysAllowed = rule_.PointersAllowed = false;
        rule_.IntrinsicMask = 0;
    }
    type_ = CustomVarTypeInfo::New();
    type_->CurrentITypeLib(library);
    pointerSize_ = 4;
    ole::TLIBATTR* libAttr = nullptr;
    if (library && ole::SUCCEEDED(library->GetLibAttr(&libAttr)) && libAttr) {
        if (libAttr->syskind == ole::SYS_WIN64) pointerSize_ = 8;
        library->ReleaseTLibAttr(libAttr);
    }
    pickedLibrary_.Reset();
    paramFlags_ = rule_.ParamFlagsMask != 0 ? paramFlags : 0;
    noFlags_ = rule_.ParamFlagsMask != 0 && (paramFlags & 11) == 0;
    object_ = objectRaised_ = record_ = recordAdded_ = voidAdded_ = mismatch_ = false;
    boundsValid_ = true;
    boundsText_.clear();
    noType_ = current == nullptr;
    if (!current) return;
    type_->Duplicate(current);
    if (LibrarySession()) {
        noType_ = true;
        return;
    }
    const ole::TYPEKIND kind = KindOf(type_->TypeInfo().get());
    if (type_->TypeInfo()) {
        object_ = IsObjectKind(kind);
        record_ = kind == ole::TKIND_RECORD;
    }
    if (type_->ArrayKind() == CustomVarTypeInfo::kFixedArray)
        boundsText_ = modBounds::FormatBounds(type_->Bounds());
}

void TypePickerState::DropObjectLevel(int16_t& level) {
    if (object_ && (rule_.ImpliedPointer || objectRaised_) && level > 0) --level;
    object_ = objectRaised_ = false;
}

void TypePickerState::DropRecordLevel(int16_t& level, bool& removed) {
    if (record_ && recordAdded_ && level > 0) {
        --level;
        removed = true;
    }
    record_ = recordAdded_ = false;
}

void TypePickerState::PickNothing() {
    noType_ = true;
    mismatch_ = false;
}

void TypePickerState::PickIntrinsic(ole::VARTYPE vt) {
    const bool wasArray = type_->IsArray(), wasRecord = record_, wasVoid = voidAdded_;
    noType_ = false;
    type_->SetType(vt, nullptr);
    int16_t level = type_->PointerLevel();
    DropObjectLevel(level);
    if (vt == kVtVoid && rule_.ImpliedPointer && !voidAdded_ && paramUsage_ != 0) {
        level = compatibility_ >= kCompatVBCallable ? 1 : static_cast<int16_t>(level + 1);
        voidAdded_ = true;
    } else if (vt != kVtVoid && voidAdded_) {
        level = InOnly() ? 0 : 1;
        voidAdded_ = false;
    }
    bool removed = false;
    DropRecordLevel(level, removed);
    type_->PointerLevel(level);
    AfterPick(wasArray, wasRecord, removed, wasVoid != voidAdded_);
}

void TypePickerState::PickType(tli::TypeInfo* type) {
    const bool wasArray = type_->IsArray(), wasRecord = record_, wasVoid = voidAdded_;
    noType_ = false;
    type_->SetType(0, type);
    const ole::TYPEKIND kind = KindOf(type);
    int16_t level = type_->PointerLevel();
    if (voidAdded_) {
        level = InOnly() ? 0 : 1;
        voidAdded_ = false;
    }
    bool removed = false;
    if (IsObjectKind(kind)) {
        if (!object_ && rule_.ImpliedPointer) ++level;
        object_ = true;
        DropRecordLevel(level, removed);
    } else if (kind == ole::TKIND_RECORD) {
        DropObjectLevel(level);
        if (!record_) {
            record_ = true;
            if (rule_.RecordByPointer && !type_->IsArray() && level == 0) {
                level = 1;
                recordAdded_ = true;
            }
        }
    } else {
        DropObjectLevel(level);
        DropRecordLevel(level, removed);
    }
    type_->PointerLevel(level);
    AfterPick(wasArray, wasRecord, removed, wasVoid != voidAdded_);
}

void TypePickerState::AfterPick(bool wasArray, bool wasRecord, bool recordLevelRemoved, bool voidChanged) {
    mismatch_ = false;
    const bool changed = wasArray != type_->IsArray() || wasRecord != record_ || recordLevelRemoved || voidChanged;
    if (changed && rule_.ParamFlagsMask != 0 && compatibility_ == kCompatVBImplementable && !type_->IsArray()) {
        if (record_ && !wasRecord)
            SetFlagBits((InOnly() ? kFlagIn : paramFlags_ & 11) | kFlagOut);
        else if (recordLevelRemoved)
            SetFlagBits(kFlagIn);
    }
    // An object type where no pointer is implied keeps the level it had,
    // which its list may not offer (an interface by value): the least level
    // offered is taken instead.
    if (rule_.PointersAllowed) {
        const std::vector<int16_t> levels = PointerLevels();
        if (!levels.empty() && std::find(levels.begin(), levels.end(), type_->PointerLevel()) == levels.end()) {
            // Picking something else removes the level again.
            objectRaised_ = object_ && levels.front() > type_->PointerLevel();
            type_->PointerLevel(levels.front());
        }
    }
}

bool TypePickerState::PickLibrary(ole::ITypeLib* library) {
    noType_ = true;
    pickedLibrary_.Reset();
    if (!library || library->GetTypeInfoCount() == 0) return false;
    ole::ComPtr<ole::ITypeInfo> first;
    CheckHr(library->GetTypeInfo(0, first.put()));
    ole::ComPtr<tli::TypeInfo> info;
    CheckHr(tli::detail::NewTypeInfo(first.get(), info.put()));
    type_->Clear();
    type_->SetType(0, info.get());
    pickedLibrary_ = ole::ComPtr<ole::ITypeLib>(library);
    noType_ = false;
    return true;
}

bool TypePickerState::PickedFrom(ole::ITypeLib* library) const {
    if (!HasType() || !type_->TypeInfo()) return false;
    ole::ComPtr<ole::ITypeInfo> ti;
    CheckHr(type_->TypeInfo()->get_ITypeInfo(ti.put()));
    ole::ComPtr<ole::ITypeLib> owner;
    ole::UINT index = 0;
    if (!ti || ti->GetContainingTypeLib(owner.put(), &index) < 0) return false;
    return owner.get() == library;
}

int16_t TypePickerState::ImpliedLevels() const {
    return static_cast<int16_t>((object_ && rule_.ImpliedPointer ? 1 : 0) + (voidAdded_ ? 1 : 0));
}

int32_t TypePickerState::OfferedFlags() const {
    return NarrowParamFlags(rule_.ParamFlagsMask, usage_, compatibility_, type_->IsArray() || record_);
}

bool TypePickerState::NoFlagsOffered() const { return noFlags_ && (OfferedFlags() & kOfferIn) != 0; }

void TypePickerState::PointerRange(int16_t& min, int16_t& max) const {
    const bool array = type_->IsArray();
    const int16_t ruleMax = array ? rule_.MaxElementPointerLevel : rule_.MaxPointerLevel;
    if (voidAdded_) {
        min = 1;
        max = compatibility_ >= kCompatVBCallable ? 1 : static_cast<int16_t>(ruleMax + 1);
    } else {
        min = 0;
        max = ruleMax;
    }
    if (object_) ++min, ++max;
    if (!array && rule_.ParamFlagsOffered && (OfferedFlags() & kOfferIn) == 0) ++min;
    if (!array && record_ && rule_.RecordByPointer) min = std::max<int16_t>(min, 1);
}

std::vector<int16_t> TypePickerState::PointerLevels() const {
    int16_t min = 0, max = 0;
    PointerRange(min, max);
    std::vector<int16_t> levels;
    if (min == 0) levels.push_back(0);
    if (min < 2 && max >= 1) levels.push_back(1);
    if (max >= 2) levels.push_back(2);
    return levels;
}

std::vector<int32_t> TypePickerState::ArrayStyles() const {
    std::vector<int32_t> styles;
    if (!rule_.ArraysAllowed) return styles;
    if (rule_.NotAnArrayOffered) styles.push_back(kArrayNone);
    if (rule_.ArrayStyles & kStyleSafeArray) styles.push_back(kArraySafe);
    if (rule_.ArrayStyles & kStyleSafeArrayPtr) styles.push_back(kArraySafePtr);
    if (rule_.ArrayStyles & kStyleFixed) styles.push_back(kArrayFixed);
    return styles;
}

std::vector<int32_t> TypePickerState::ParamFlagChoices() const {
    std::vector<int32_t> choices = OfferedParamFlags(OfferedFlags());
    if (NoFlagsOffered()) choices.insert(choices.begin(), 0);
    return choices;
}

int16_t TypePickerState::PointerLevel() const { return type_->PointerLevel(); }

int32_t TypePickerState::ArrayStyle() const {
    if (type_->ArrayKind() == CustomVarTypeInfo::kFixedArray) return kArrayFixed;
    if (type_->ArrayKind() == CustomVarTypeInfo::kSafeArray)
        return type_->ArrayPointerLevel() > 0 ? kArraySafePtr : kArraySafe;
    return kArrayNone;
}

void TypePickerState::SetPointerLevel(int16_t level) {
    type_->PointerLevel(level);
    if (type_->IsArray() || !rule_.ParamFlagsOffered) return;
    // No [out] without a pointer; a parameter without direction flags keeps none.
    if (level <= ImpliedLevels()) {
        if (!InOnly()) SetFlagBits(kFlagIn);
    } else if (compatibility_ == kCompatVBImplementable && InOnly()) {
        SetFlagBits(kFlagInOut);
    }
}

void TypePickerState::SetArrayStyle(int32_t style) {
    const bool wasArray = type_->IsArray();
    int16_t oldMin = 0, newMin = 0, max = 0, newMax = 0;
    PointerRange(oldMin, max);
    switch (style) {
    case kArraySafe: type_->SetSafeArrayData(0); break;
    case kArraySafePtr: type_->SetSafeArrayData(1); break;
    case kArrayFixed:
        type_->SetFixedArrayData({{0, 0}}, 0);
        boundsText_ = u"0 To 0";
        boundsValid_ = true;
        break;
    default: type_->ClearArrayData(); break;
    }
    PointerRange(newMin, newMax);
    // A level the new range doesn't hold (a double pointer kept for an
    // array element that may be a single one at most) follows the range.
    int16_t level = newMin != oldMin ? newMin : type_->PointerLevel();
    if (newMax >= newMin) level = std::clamp(level, newMin, newMax);
    type_->PointerLevel(level);
    if (!rule_.ParamFlagsOffered) return;
    const int32_t offered = OfferedFlags();
    // No direction flags stay as they are where they are still offered.
    const int32_t flags = paramFlags_ & 11;
    if (!wasArray && type_->IsArray() && (flags == kFlagIn || (flags == 0 && !NoFlagsOffered()))) {
        if (offered & kOfferInOut)
            SetFlagBits(kFlagInOut);
        else if (offered & kOfferOut)
            SetFlagBits(kFlagOut);
        else if (offered & kOfferOutRetval)
            SetFlagBits(10);
    } else if (wasArray && !type_->IsArray() && type_->PointerLevel() <= ImpliedLevels() && !InOnly()) {
        SetFlagBits(kFlagIn);
    }
}

void TypePickerState::SetParamFlags(int32_t choice) {
    const int32_t old = paramFlags_;
    const bool wasInOnly = InOnly();
    SetFlagBits(choice & 11);
    if (type_->IsArray()) return;
    int16_t level = type_->PointerLevel();
    if (compatibility_ == kCompatVBImplementable && (old & kFlagOut) && !(choice & kFlagOut))
        level = (object_ || record_) ? 1 : 0;
    if (wasInOnly && (choice & kFlagOut)) {
        const int16_t need = object_ ? 2 : 1;
        level = compatibility_ == kCompatVBImplementable ? need : std::max(level, need);
    }
    type_->PointerLevel(level);
}

TypePickerState::Pair TypePickerState::MarkedPair() const {
    if (LibrarySession()) return Pair::None;
    const auto missing = [](const auto& offered, auto value) {
        return !offered.empty() && std::find(offered.begin(), offered.end(), value) == offered.end();
    };
    if (rule_.ArraysAllowed && missing(ArrayStyles(), ArrayStyle())) return Pair::ArrayStyle;
    if (rule_.PointersAllowed && missing(PointerLevels(), PointerLevel())) return Pair::PointerLevel;
    if (rule_.ParamFlagsOffered && missing(ParamFlagChoices(), ParamFlagChoice())) return Pair::ParamFlags;
    return BoundsLive() && !boundsValid_ ? Pair::Bounds : Pair::None;
}

uint32_t TypePickerState::ElementSize() const {
    if (type_->PointerLevel() > 0) return pointerSize_;
    if (const auto& info = type_->TypeInfo()) {
        ole::ComPtr<ole::ITypeInfo> ti;
        if (info->get_ITypeInfo(ti.put()) < 0 || !ti) return 0;
        return typelib_detail::TypeAttr(ti.get())->cbSizeInstance;
    }
    switch (type_->BaseVarType()) {
    case ole::VT_I1:
    case ole::VT_UI1: return 1;
    case ole::VT_I2:
    case ole::VT_UI2:
    case ole::VT_BOOL: return 2;
    case ole::VT_R8:
    case ole::VT_CY:
    case ole::VT_DATE:
    case ole::VT_I8:
    case ole::VT_UI8: return 8;
    case ole::VT_DECIMAL: return 16;
    case ole::VT_VARIANT: return pointerSize_ == 8 ? 24 : 16;
    case ole::VT_BSTR:
    case ole::VT_DISPATCH:
    case ole::VT_UNKNOWN:
    case ole::VT_LPSTR:
    case ole::VT_LPWSTR:
    case ole::VT_INT_PTR:
    case ole::VT_UINT_PTR: return pointerSize_;
    case ole::VT_VOID:
    case ole::VT_EMPTY: return 0;
    default: return 4;  // 32-bit numbers
    }
}

bool TypePickerState::SetBoundsText(std::u16string_view text) {
    if (!BoundsLive()) return false;
    boundsText_ = text;
    BoundsTable bounds;
    boundsValid_ = modBounds::ParseBounds(text, bounds);
    if (boundsValid_) {
        // The layout holds no array of more than 0x7FFFFFFF bytes.
        uint64_t bytes = std::max<uint32_t>(ElementSize(), 1);
        for (const BoundsRow& row : bounds) {
            bytes *= static_cast<uint64_t>(static_cast<int64_t>(row[1]) - row[0] + 1);
            if (bytes > 0x7FFFFFFFu) {
                boundsValid_ = false;
                break;
            }
        }
    }
    if (boundsValid_) {
        try {
            type_->SetFixedArrayData(bounds, type_->ArrayPointerLevel());
        } catch (const ErrorRecord&) {
            boundsValid_ = false;
        }
    }
    return boundsValid_;
}

ole::ComPtr<CustomVarTypeInfo> TypePickerState::CurrentType() const {
    if (!HasType()) return {};
    return type_;
}

std::u16string TypePickerState::PrototypeText() const {
    if (noType_ && usage_ == kUsageBaseInterface && compatibility_ != kCompatVBImplementable && !mismatch_) return modSupport::LoadResStringById(765);
    if (!HasType()) return modSupport::LoadResStringById(613);
    if (LibrarySession()) {
        ole::BSTR name = nullptr;
        CheckHr(pickedLibrary_->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
        return typelib_detail::TakeBstr(name);
    }
    std::u16string text = modPrototype::GetTypeString(type_.get(), usage_ == kUsageAliasTarget);
    if (rule_.ParamFlagsMask != 0) text = modAttributeStrings::ParamFlagsText(paramFlags_) + text;
    return text;
}

}  // namespace zephrin::dialogs
