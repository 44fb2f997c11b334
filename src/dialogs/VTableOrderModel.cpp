#include "dialogs/VTableOrderModel.h"

#include <algorithm>
#include <numeric>

#include "dialogs/OrderListModel.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::dialogs {

namespace {

// The bytes of a vtable slot in the library that holds ti.
int SlotSizeOf(ole::ITypeInfo* ti) {
    ole::ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    CheckHr(ti->GetContainingTypeLib(lib.put(), &index));
    ole::TLIBATTR* attr = nullptr;
    CheckHr(lib->GetLibAttr(&attr));
    const bool wide = attr->syskind == ole::SYS_WIN64;
    lib->ReleaseTLibAttr(attr);
    return wide ? 8 : 4;
}

}  // namespace

VTableOrderModel::VTableOrderModel(int inheritedSlots, std::vector<int16_t> offsets,
                                   std::vector<std::u16string> texts, int slotSize, bool automatic, bool dual)
    : inheritedSlots_(inheritedSlots),
      slotSize_(slotSize),
      dual_(dual),
      offsets_(std::move(offsets)),
      texts_(std::move(texts)) {
    if (texts_.size() != offsets_.size() || offsets_.size() > 0x7FFF || (slotSize != 4 && slotSize != 8))
        RaiseError(kErrInvalidArgument);
    std::vector<int16_t> byOffset(offsets_.size());
    std::iota(byOffset.begin(), byOffset.end(), int16_t{0});
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](int16_t a, int16_t b) { return offsets_[static_cast<size_t>(a)] < offsets_[static_cast<size_t>(b)]; });
    // Walk the slots from the first own one: a function at the slot's offset
    // (or, in a malformed type, below it) takes a row; a free slot between
    // functions becomes an empty row, unless the slots are automatic.
    int expected = inheritedSlots_ * slotSize_;
    for (int16_t function : byOffset) {
        const int offset = offsets_[static_cast<size_t>(function)];
        for (; offset > expected && !automatic; expected += slotSize_) rows_.push_back(kEmptySlot);
        rows_.push_back(function);
        expected = std::max(expected, offset) + slotSize_;
    }
    // A function away from its row's slot (sharing a slot, off a slot
    // boundary, left in a slot its base has taken since, or past the slots an
    // automatic layout closes) takes the slot it is shown in, so that every
    // later step moves what the user sees.
    for (int r = 0; r < Count(); ++r)
        if (rows_[static_cast<size_t>(r)] != kEmptySlot)
            offsets_[static_cast<size_t>(rows_[static_cast<size_t>(r)])] = static_cast<int16_t>(SlotOffset(r));
}

std::optional<VTableOrderModel> VTableOrderModel::ForInterface(ole::ITypeLib* lib, ole::UINT typeIndex) {
    ole::ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, typeIndex);
    ole::UINT funcs = 0, implTypes = 0;
    bool dual = false;
    {
        typelib_detail::TypeAttr attr(ti.get());
        funcs = attr->cFuncs;
        implTypes = attr->cImplTypes;
        dual = (attr->wTypeFlags & ole::TYPEFLAG_FDUAL) != 0;
    }
    if (funcs == 0) return std::nullopt;
    int inherited = 0;
    if (implTypes > 0) {
        ole::HREFTYPE href = 0;
        CheckHr(ti->GetRefTypeOfImplType(0, &href));
        ole::ComPtr<ole::ITypeInfo> base;
        CheckHr(ti->GetRefTypeInfo(href, base.put()));
        inherited = typelib_detail::TypeAttr(base.get())->cbSizeVft / SlotSizeOf(base.get());
    }
    const std::vector<std::u16string> names = FunctionNames(lib, typeIndex, ti.get());
    std::vector<int16_t> offsets;
    std::vector<std::u16string> texts;
    for (ole::UINT i = 0; i < funcs; ++i) {
        typelib_detail::FuncDescHolder fd(ti.get(), i);
        offsets.push_back(fd->oVft);
        texts.push_back(modAttributeStrings::InvokeKindText(fd->invkind) + names[i]);
    }
    return VTableOrderModel(inherited, std::move(offsets), std::move(texts), SlotSizeOf(ti.get()),
                            modITypeInfoHelper::CanLayOut(ti.get()), dual);
}

std::u16string VTableOrderModel::TextAt(int row) const {
    const int16_t function = FunctionAt(row);
    return function == kEmptySlot ? modSupport::LoadResStringById(585) : texts_[static_cast<size_t>(function)];
}

int VTableOrderModel::FirstRow() const {
    const auto found = std::find_if(rows_.begin(), rows_.end(), [](int16_t f) { return f != kEmptySlot; });
    return found == rows_.end() ? 0 : static_cast<int>(found - rows_.begin());
}

bool VTableOrderModel::CanMoveDown(int row) const {
    if (row < 0 || row + 1 >= Count()) return false;
    return row + 2 < Count() || FunctionAt(row) != kEmptySlot;
}

void VTableOrderModel::Shift(int fromOffset, int by) {
    for (int16_t& offset : offsets_)
        if (offset >= fromOffset) offset = static_cast<int16_t>(offset + by);
}

int VTableOrderModel::Move(int row, bool up) {
    if (up ? !CanMoveUp(row) : !CanMoveDown(row)) RaiseError(kErrInvalidArgument);
    const int target = up ? row - 1 : row + 1;
    const int step = up ? slotSize_ : -slotSize_;
    const int16_t moving = FunctionAt(row), displaced = FunctionAt(target);
    if (moving == kEmptySlot && displaced == kEmptySlot) return target;  // only the selection moves
    if (moving != kEmptySlot && displaced != kEmptySlot) {
        // Two neighbours trade their offsets, so they can never end in one slot.
        std::swap(offsets_[static_cast<size_t>(moving)], offsets_[static_cast<size_t>(displaced)]);
    } else if (moving != kEmptySlot) {
        offsets_[static_cast<size_t>(moving)] = static_cast<int16_t>(offsets_[static_cast<size_t>(moving)] - step);
        if (up && row + 1 == Count()) {
            // The last function takes the free slot above it: the vtable ends one slot earlier.
            rows_.erase(rows_.begin() + target);
            return target;
        }
    } else {
        offsets_[static_cast<size_t>(displaced)] =
            static_cast<int16_t>(offsets_[static_cast<size_t>(displaced)] + step);
    }
    std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(target)]);
    return target;
}

bool VTableOrderModel::CanInsert(int row) const {
    return row >= 0 && row < Count() && !dual_ && (inheritedSlots_ + Count() + 1) * slotSize_ <= kMaxVtableSize;
}

int VTableOrderModel::Insert(int row) {
    if (!CanInsert(row)) RaiseError(kErrInvalidArgument);
    Shift(SlotOffset(row), slotSize_);
    rows_.insert(rows_.begin() + row, kEmptySlot);
    return row;
}

int VTableOrderModel::Delete(int row) {
    if (!CanDelete(row)) RaiseError(kErrInvalidArgument);
    Shift(SlotOffset(row) + 1, -slotSize_);
    rows_.erase(rows_.begin() + row);
    return std::min(row, Count() - 1);
}

}  // namespace zephrin::dialogs
