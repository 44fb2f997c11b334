// Custom data collections, their items and enumerators.
#include "platform/automation/Guid.h"
#include "platform/tlbinf/TliSupport.h"

namespace tli {
namespace {

using detail::ComPtr;
using detail::Start;

class CustomDataItemObject final : public ole::RefCounted<CustomDataItem> {
public:
    CustomDataItemObject(const GUID& guid, const VARIANT& value) : guid_(guid), value_(value) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<CustomDataItem>(this, riid, ppv);
    }
    HRESULT get_Guid(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = ole::GuidToString(guid_);
        return ole::S_OK;
    }
    HRESULT get_Value(VARIANT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return ole::CopyHeldValue(out, value_.ptr());
    }

private:
    GUID guid_;
    ole::Variant value_;
};

using ItemList = std::shared_ptr<const std::vector<ComPtr<CustomDataItem>>>;

class CustomDataEnumObject final : public ole::RefCounted<CustomDataEnum> {
public:
    explicit CustomDataEnumObject(ItemList items) : items_(std::move(items)) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<CustomDataEnum>(this, riid, ppv);
    }
    HRESULT Next(CustomDataItem** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (next_ >= items_->size()) return ole::S_FALSE;
        return (*items_)[next_++].CopyTo(out);
    }
    HRESULT Reset() override {
        next_ = 0;
        return ole::S_OK;
    }

private:
    ItemList items_;
    size_t next_ = 0;
};

class CustomDataCollectionObject final : public ole::RefCounted<CustomDataCollection> {
public:
    explicit CustomDataCollectionObject(ItemList items) : items_(std::move(items)) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<CustomDataCollection>(this, riid, ppv);
    }
    HRESULT get_Me(CustomDataCollection** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = this;
        AddRef();
        return ole::S_OK;
    }
    HRESULT NewEnum(CustomDataEnum** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return detail::GiveOut(ComPtr<CustomDataEnum>(new CustomDataEnumObject(items_)), out);
    }
    HRESULT get_Item(LONG index, CustomDataItem** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (index < 1 || static_cast<size_t>(index) > items_->size()) return ole::TYPE_E_ELEMENTNOTFOUND;
        return (*items_)[static_cast<size_t>(index - 1)].CopyTo(out);
    }
    HRESULT get_Count(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = static_cast<LONG>(items_->size());
        return ole::S_OK;
    }

private:
    ItemList items_;
};

}  // namespace

HRESULT CreateCustomDataCollection(const ole::CUSTDATA* data, CustomDataCollection** out) {
    if (HRESULT hr = Start(out); FAILED(hr)) return hr;
    auto items = std::make_shared<std::vector<ComPtr<CustomDataItem>>>();
    if (data && data->cCustData) {
        if (!data->prgCustData) return ole::E_INVALIDARG;
        items->reserve(data->cCustData);
        for (ole::DWORD i = 0; i < data->cCustData; ++i) {
            const ole::CUSTDATAITEM& item = data->prgCustData[i];
            items->push_back(ComPtr<CustomDataItem>(new CustomDataItemObject(item.guid, item.varValue)));
        }
    }
    return detail::GiveOut(ComPtr<CustomDataCollection>(new CustomDataCollectionObject(std::move(items))), out);
}

}  // namespace tli
