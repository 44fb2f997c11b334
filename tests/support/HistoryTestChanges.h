// Change kinds for history file tests and the history fuzzer, standing in for
// the real kinds: a stateless "Delete" (code 25) and a change whose payload
// holds every field form a kind writes, with its type reference in either of
// the two conventions (code 10: ordinal + 1, 0 for none; code 18: the plain
// ordinal).
#pragma once

#include <memory>
#include <string>

#include "changes/ChangeKind.h"
#include "changes/HistoryFileReader.h"
#include "changes/HistoryFileWriter.h"
#include "changes/IChangeListener.h"
#include "changes/IHistoryReferenceCache.h"
#include "changes/StatelessChange.h"
#include "changes/modRecorder.h"
#include "typelib/modMarbrel.h"

namespace testsupport {

using zephrin::ChangeKind;
using zephrin::ChangePtr;
using zephrin::ChangeTarget;
using zephrin::IChange;

class TestDeleteChange : public zephrin::StatelessChange {
public:
    bool Apply(zephrin::CustomTypeLib&, IChange*, ChangeTarget& target, zephrin::IChangeListener* listener,
               int32_t flags) override {
        if (listener) zephrin::NotifyListener(*listener, ChangeKind::DeleteChange, target, *this, flags);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override {
        return u"Delete " + zephrin::modRecorder::DescribeTarget(target);
    }
};

class TestPayloadChange : public IChange {
public:
    explicit TestPayloadChange(ChangeKind kind) : kind_(kind) {}

    int32_t Mask = 0;
    ole::Variant Value;
    std::u16string Text;
    // The type description while the change is live, and its cache entry
    // while it is in a history.
    ole::ComPtr<tli::VarTypeInfo> LiveType;
    std::shared_ptr<zephrin::ICachedVarType> Type;

    bool PlainOrdinal() const { return kind_ == ChangeKind::MemberChange; }

    bool Apply(zephrin::CustomTypeLib&, IChange*, ChangeTarget& target, zephrin::IChangeListener* listener,
               int32_t flags) override {
        if (listener) zephrin::NotifyListener(*listener, kind_, target, *this, flags);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override {
        return Text + u" on " + zephrin::modRecorder::DescribeTarget(target);
    }
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override { return std::make_shared<TestPayloadChange>(*this); }
    bool Differs(IChange&) override { return true; }
    void Save(zephrin::HistoryFileWriter& out, int32_t) override {
        out.PutLong(Mask);
        if (PlainOrdinal())
            out.PutTypeOrdinal(Type);
        else
            out.PutTypeRef(Type);
        zephrin::modMarbrel::WriteVariant(out, Value.get());
        out.PutString(Text);
    }
    void Load(zephrin::HistoryFileReader& in, int32_t, zephrin::IHistoryReferenceCache&) override {
        Mask = in.GetLong();
        Type = PlainOrdinal() ? in.GetTypeOrdinal() : in.GetTypeRef();
        Value = zephrin::modMarbrel::ReadVariant(in);
        Text = in.GetString();
    }
    void BindToLibrary(ole::ITypeLib* context, IChange*) override {
        LiveType = Type ? Type->GetVarTypeInfo(context) : nullptr;
    }
    void DetachFromLibrary(zephrin::IHistoryReferenceCache& cache) override {
        if (LiveType) Type = cache.AddVarType(LiveType.get());
        LiveType = nullptr;
    }

private:
    ChangeKind kind_;
};

// The creator of the test kinds (null for every other code).
inline ChangePtr CreateTestChange(uint8_t code) {
    static const ChangePtr deleteChange = std::make_shared<TestDeleteChange>();
    switch (static_cast<ChangeKind>(code)) {
        case ChangeKind::DeleteChange: return deleteChange;
        case ChangeKind::TypeChange:
        case ChangeKind::MemberChange: return std::make_shared<TestPayloadChange>(static_cast<ChangeKind>(code));
        default: return nullptr;
    }
}

}  // namespace testsupport
