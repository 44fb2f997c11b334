// Fakes for the change model tests: a configurable change, a listener that
// notes what it hears, a history list that mirrors the engine's list the way
// the window's list control does, an activation, a scripted chooser, an
// in-memory history file, and targets built the way the editor view builds them.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "changes/hub/ChangeListener.h"
#include "changes/hub/IChange.h"
#include "changes/history/IHistoryFile.h"
#include "changes/history/INameChooser.h"
#include "changes/history/IPlayback.h"
#include "changes/history/IPlaybackUI.h"
#include "changes/history/IPlaybackUIActivation.h"
#include "changes/history/Playback.h"
#include "changes/hub/StatelessChange.h"
#include "changes/history/modRecorder.h"
#include "changes/hub/TargetText.h"
#include "foundation/modSupport.h"
#include "support/ErrorCapture.h"
#include "support/ShapesLibrary.h"
#include "support/TliReading.h"
#include "tools/DumpTypeLib.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace changestest {

using namespace zephrin;
using namespace testsupport;
using ole::ComPtr;

inline std::string Utf8(const std::u16string& s) { return ole::ToUtf8(s); }

// ---- A configurable change ----

// What a fake change does to the library in Apply (null: nothing).
using Edit = std::function<void(CustomTypeLib& library, ChangeTarget& target)>;

// Calls made on fake changes, shared by a change and its copies.
struct CallLog {
    std::vector<std::string> calls;
    std::vector<IHistoryReferenceCache*> detachCaches;
    std::string Joined() const {
        std::string s;
        for (const auto& c : calls) s += (s.empty() ? "" : " ") + c;
        return s;
    }
};

class FakeChange : public IChange {
public:
    FakeChange(ChangeKind kind, std::string label, Edit edit, std::shared_ptr<CallLog> log)
        : kind_(kind), label_(std::move(label)), edit_(std::move(edit)), log_(std::move(log)) {}

    // Set: the change (and every copy of it) sends no notification.
    std::shared_ptr<bool> silent = std::make_shared<bool>(false);

    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override {
        log_->calls.push_back(label_ + ".apply" + std::to_string(flags) + (captured ? "+captured" : ""));
        if (edit_) edit_(library, target);
        if (!*silent && listener) NotifyListener(*listener, kind_, target, *this, flags);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override {
        return ole::FromUtf8(label_) + u": " + modRecorder::DescribeTarget(target);
    }
    void InitFromTarget(ChangeTarget&) override { log_->calls.push_back(label_ + ".init"); }
    ChangePtr Clone() override { return std::make_shared<FakeChange>(*this); }
    bool Differs(IChange&) override { return true; }
    void Save(HistoryFileWriter&, int32_t) override {}
    void Load(HistoryFileReader&, int32_t, IHistoryReferenceCache&) override {}
    void BindToLibrary(ole::ITypeLib*, IChange* current) override {
        log_->calls.push_back(label_ + ".bind" + (current ? "+current" : ""));
    }
    void DetachFromLibrary(IHistoryReferenceCache& cache) override {
        log_->calls.push_back(label_ + ".detach");
        log_->detachCaches.push_back(&cache);
    }

private:
    ChangeKind kind_;
    std::string label_;
    Edit edit_;
    std::shared_ptr<CallLog> log_;
};

// A stateless kind: one object, recorded as itself.
class FakeStateless : public StatelessChange {
public:
    explicit FakeStateless(ChangeKind kind) : kind_(kind) {}
    bool Apply(CustomTypeLib&, IChange*, ChangeTarget& target, IChangeListener* listener, int32_t flags) override {
        if (listener) NotifyListener(*listener, kind_, target, *this, flags);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override {
        return u"stateless: " + modRecorder::DescribeTarget(target);
    }

private:
    ChangeKind kind_;
};

// ---- A listener that notes what it hears ----

class RecordingListener : public IChangeListener {
public:
    explicit RecordingListener(std::string name, std::vector<std::string>* heard = nullptr)
        : name_(std::move(name)), heard_(heard ? heard : &own_) {}

    std::function<void()> onCall;  // runs inside every call
    bool fail = false;             // raise error 5 after noting the call
    bool cancelTypeChange = false;

    const std::vector<std::string>& Heard() const { return *heard_; }

    void RefreshCurrentSelection(ListenerTag tag) override { Note("Refresh", 0, tag); }
    void SelectTarget(ChangeTarget& target, ListenerTag tag) override {
        Note("Select:" + Utf8(target.TypeName), 0, tag);
    }
    void ProvideExternalTypeRedirection(ComPtr<IExternalTypeRedirection>&) override { Note("Provide", 0, 0); }
    void OnBeforeTypeChange(ChangeTarget&, IChange&, bool& cancel, ListenerTag tag) override {
        cancel = cancel || cancelTypeChange;
        Note("Before", 0, tag);
    }
#define CHANGESTEST_NOTE(method) \
    void method(ChangeTarget&, IChange&, int32_t flags, ListenerTag tag) override { Note(#method, flags, tag); }
    CHANGESTEST_NOTE(OnLibraryChange)
    CHANGESTEST_NOTE(OnTypeChange)
    CHANGESTEST_NOTE(OnImplTypeChange)
    CHANGESTEST_NOTE(OnMemberChange)
    CHANGESTEST_NOTE(OnParamChange)
    CHANGESTEST_NOTE(OnDeleteChange)
    CHANGESTEST_NOTE(OnRemoveParamArrayChange)
    CHANGESTEST_NOTE(OnRenameChange)
    CHANGESTEST_NOTE(OnFlattenInterfaceChange)
    CHANGESTEST_NOTE(OnResetAutomaticIDsChange)
    CHANGESTEST_NOTE(OnResetAllIDsChange)
    CHANGESTEST_NOTE(OnReorderVTableChange)
    CHANGESTEST_NOTE(OnReorderVarsChange)
    CHANGESTEST_NOTE(OnAddTypeChange)
    CHANGESTEST_NOTE(OnAddImplTypeChange)
    CHANGESTEST_NOTE(OnInsertParamChange)
    CHANGESTEST_NOTE(OnAddMemberChange)
    CHANGESTEST_NOTE(OnInternalizeTypesChange)
    CHANGESTEST_NOTE(OnRedirectTypesChange)
    CHANGESTEST_NOTE(OnCopyMemberChange)
    CHANGESTEST_NOTE(OnHelpChange)
    CHANGESTEST_NOTE(OnReorderTypesChange)
    CHANGESTEST_NOTE(OnCustDataChange)
#undef CHANGESTEST_NOTE

private:
    void Note(const std::string& what, int32_t flags, ListenerTag tag) {
        std::string line = name_ + ":" + what;
        if (flags) line += " flags=" + std::to_string(flags);
        if (tag) line += " tag=" + std::to_string(tag);
        heard_->push_back(line);
        if (onCall) onCall();
        if (fail) RaiseError(kErrInvalidArgument, ole::FromUtf8(name_));
    }

    std::string name_;
    std::vector<std::string> own_;
    std::vector<std::string>* heard_;
};

// ---- The window side ----

// Picks candidates by name, in order; an empty answer (or none left) cancels.
class ScriptedChooser : public INameChooser {
public:
    std::deque<std::u16string> answers;
    std::vector<ChooseNameRequest> requests;

    std::optional<size_t> ChooseName(const ChooseNameRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        const std::u16string pick = answers.front();
        answers.pop_front();
        for (size_t i = 0; i < request.Entries.size(); ++i)
            if (request.Entries[i].Text == pick) return i;
        return std::nullopt;
    }
};

// Keeps a copy of the engine's list as the list control does: lines hold the
// engine's item handles; texts and glyphs are read back from the engine when
// lines are added or redrawn, and selecting a line asks for its commands.
class FakeHistoryList : public IPlaybackUI {
public:
    explicit FakeHistoryList(IPlayback& engine, INameChooser* owner = nullptr) : engine_(engine), owner_(owner) {}

    std::vector<PlaybackItem> lines;
    int32_t selected = -1;
    int32_t lastMask = 0;  // EnabledCommands of the line last selected
    std::vector<std::string> events;

    // The texts of the lines, the end line as "<end>", the current one marked "*".
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (PlaybackItem item : lines) {
            std::string t = item == kEndItem ? "<end>" : Utf8(engine_.Text(item));
            if (engine_.Glyph(item) & kGlyphCurrent) t = "*" + t;
            out.push_back(t);
        }
        return out;
    }

    INameChooser* UIOwner() override { return owner_; }
    void AddItem(int32_t index, PlaybackItem item) override {
        ASSERT_LE(static_cast<size_t>(index), lines.size());
        lines.insert(lines.begin() + index, item);
        if (item != kEndItem) {
            EXPECT_FALSE(engine_.Text(item).empty());
        }
    }
    void RemoveItem(int32_t index) override {
        ASSERT_LT(static_cast<size_t>(index), lines.size());
        lines.erase(lines.begin() + index);
    }
    void RemoveAllItems() override { lines.clear(); }
    void RefreshGlyphs(int32_t index1, int32_t index2) override {
        for (int32_t i : {index1, index2})
            if (i >= 0 && static_cast<size_t>(i) < lines.size()) {
                (void)engine_.Glyph(lines[i]);
            }
    }
    int32_t ListIndex() override { return selected; }
    void ListIndex(int32_t index) override {
        selected = index;
        if (index >= 0 && static_cast<size_t>(index) < lines.size())
            lastMask = engine_.EnabledCommands(index, lines[index]);
    }
    void RefreshAll() override { events.push_back("RefreshAll"); }
    int32_t CommandFilter() override { return filter_; }
    void CommandFilter(int32_t mask) override { filter_ = mask; }
    void OnRestartCommand() override { events.push_back("Restart"); }
    void OnInterventionRequired() override { events.push_back("Intervention"); }
    void OnDeleteCommand() override { events.push_back("Delete"); }

private:
    IPlayback& engine_;
    INameChooser* owner_;
    int32_t filter_ = 0x1FF;
};

// Returns a list (or none), optionally asking the run to stop.
class FakeActivation : public IPlaybackUIActivation {
public:
    IPlaybackUI* list = nullptr;
    bool askToStop = false;
    int calls = 0;
    IPlaybackUI* ActivateUI(IPlayback&, bool& runPending) override {
        ++calls;
        runPending = askToStop;
        return list;
    }
};

// A history list shown for an engine: the engine takes it through an
// activation, shows its items at once, and lets go of it at Hide() or when
// this goes.
class ShownHistoryList {
public:
    explicit ShownHistoryList(IPlayback& engine) : ui{engine}, engine_(&engine) {
        activation.list = &ui;
        engine.UIActivator(&activation);
        shown_ = engine.ActivateUI();
    }
    ~ShownHistoryList() { Hide(); }
    ShownHistoryList(const ShownHistoryList&) = delete;
    ShownHistoryList& operator=(const ShownHistoryList&) = delete;

    bool Shown() const { return shown_; }
    void Hide() {
        if (engine_ != nullptr) engine_->UIActivator(nullptr);
        engine_ = nullptr;
    }

    FakeHistoryList ui;
    FakeActivation activation;

private:
    IPlayback* engine_;
    bool shown_ = false;
};

// ---- History file ----

class FakeCache : public IHistoryReferenceCache {
public:
    std::shared_ptr<ICachedVarType> AddVarType(tli::VarTypeInfo*) override { return nullptr; }
    bool Holds(const ICachedVarType* entry) const override { return entry != nullptr; }
    std::shared_ptr<ICachedVarType> GetVarType(int32_t) override { return nullptr; }
};

// Keeps written histories in memory; the file holds a key to them, so files
// are real and can be replaced, kept or damaged.
class FakeHistoryFile : public IHistoryFile {
public:
    bool failWrite = false;      // fail to make the file
    std::list<ChangeNode> last;  // the items last written

    std::shared_ptr<IHistoryReferenceCache> NewCache() override { return std::make_shared<FakeCache>(); }
    std::vector<std::byte> EditHistoryBytes(const std::filesystem::path&, const std::list<ChangeNode>& items,
                                            IHistoryReferenceCache&) override {
        if (failWrite) RaiseError(kErrPathFileAccess);
        const std::string key = "history-" + std::to_string(++written_);
        std::list<ChangeNode>& copy = store_[key];
        for (const ChangeNode& node : items) {
            copy.push_back(node);
            copy.back().Change = node.Change->Clone();
        }
        last = items;
        const auto* bytes = reinterpret_cast<const std::byte*>(key.data());
        return std::vector<std::byte>(bytes, bytes + key.size());
    }
    std::list<ChangeNode> ReadEditHistory(const std::filesystem::path& file, IHistoryReferenceCache&) override {
        std::string key;
        std::ifstream(file) >> key;
        const auto found = store_.find(key);
        if (found == store_.end()) RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(710));
        std::list<ChangeNode> copy = found->second;
        for (ChangeNode& node : copy) node.Change = node.Change->Clone();
        return copy;
    }

private:
    int written_ = 0;
    std::map<std::string, std::list<ChangeNode>> store_;
};

// ---- Targets, as the editor view builds them ----

inline ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, const char16_t* name) {
    ComPtr<ITypeComp> comp;
    EXPECT_OK(lib->GetTypeComp(comp.put()));
    std::u16string n(name);
    ComPtr<ITypeInfo> ti;
    ComPtr<ITypeComp> tcomp;
    EXPECT_OK(comp->BindType(n.data(), 0, ti.put(), tcomp.put()));
    return ti;
}

inline ChangeTarget TypeTarget(ITypeLib* lib, const char16_t* type) {
    ChangeTarget t;
    t.Kind = kTargetType;
    t.Library = ComPtr<ITypeLib>(lib);
    ComPtr<ITypeInfo> ti = TypeNamed(lib, type);
    ComPtr<ITypeLib> containing;
    UINT index = 0;
    EXPECT_OK(ti->GetContainingTypeLib(containing.put(), &index));
    t.TypeIndex = static_cast<int32_t>(index);
    t.TypeName = type;
    t.TypeKind = NodeTypeKind(ti.get());
    return t;
}

// A member target, named as the view names it.
inline ChangeTarget MemberTarget(ITypeLib* lib, const char16_t* type, const char16_t* member,
                                 int32_t invokeKind = INVOKE_FUNC) {
    ChangeTarget t = TypeTarget(lib, type);
    t.Kind = kTargetMember;
    t.InvokeKind = invokeKind;
    ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<UINT>(t.TypeIndex));
    t.MemberId = modITypeInfoHelper::MemberIDFromName(ti.get(), member);
    t.MemberName = member;
    return t;
}

// A parameter target; without a name, the engine takes it from the library.
inline ChangeTarget ParamTarget(ITypeLib* lib, const char16_t* type, const char16_t* member, int16_t paramIndex,
                                int16_t special = kParamNamed, const char16_t* name = u"") {
    ChangeTarget t = MemberTarget(lib, type, member, INVOKE_FUNC);
    t.Kind = kTargetParam;
    t.ParamName = name;
    t.ParamIndex = paramIndex;
    t.SpecialParam = special;
    return t;
}

inline ChangeTarget LibraryTarget(ITypeLib* lib) {
    ChangeTarget t;
    t.Kind = kTargetLibrary;
    t.Library = ComPtr<ITypeLib>(lib);
    return t;
}

// A type of lib as the editor view describes it (for implemented interfaces
// and member copies).
inline ComPtr<tli::VarTypeInfo> TypeDescOf(ITypeLib* lib, const char16_t* type) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(lib);
    v->SetType(0, testsupport::TypeNamed(InfoOf(lib).get(), type).get());
    return v->GetVarTypeInfo();
}

inline ChangeTarget ImplTarget(ITypeLib* lib, const char16_t* coclass, int32_t index) {
    ChangeTarget t = TypeTarget(lib, coclass);
    t.Kind = kTargetImplType;
    t.MemberId = index;
    return t;
}

// The Shapes sample as an editable library.
inline ComPtr<ITypeLib> Shapes() {
    ComPtr<ICreateTypeLib2> created = BuildShapes();
    return AsTypeLib(created.get());
}

inline std::string Dump(ITypeLib* lib) { return tlbtools::DumpTypeLib(lib); }

// Whether view edits lib itself (not a library regenerated from it).
inline bool Edits(const CustomTypeLib& view, ITypeLib* lib) {
    return typelib_detail::SameObject(view.ReadView().get(), lib);
}

// The engine and its surroundings: a hub, a history list with a chooser, an
// editable library that the "view" edits through the hub.
class HistoryTest : public ::testing::Test {
protected:
    HistoryTest() {
        engine.ChangeListener(hub);
        engine.UIActivator(&activation);
        activation.list = &list;
        lib = Shapes();
        view.Attach(lib.get());
        engine.CurrentITypeLib(lib.get());
        EXPECT_TRUE(engine.ActivateUI());
    }

    // A change made in the view: applied through the hub, so the engine records it.
    std::shared_ptr<FakeChange> Apply(ChangeKind kind, const std::string& label, ChangeTarget target, Edit edit = {}) {
        auto change = std::make_shared<FakeChange>(kind, label, std::move(edit), log);
        change->Apply(view, nullptr, target, hub.get(), 0);
        return change;
    }
    // n library changes made in the view, labelled c0, c1, ...
    void Record(int n) {
        for (int i = 0; i < n; ++i) Apply(ChangeKind::LibChange, "c" + std::to_string(i), LibTarget());
    }
    ChangeTarget LibTarget() {
        ChangeTarget t;
        t.Kind = kTargetLibrary;
        t.Library = lib;
        return t;
    }
    PlaybackItem Line(int i) { return list.lines.at(static_cast<size_t>(i)); }
    bool Execute(int32_t command, int i) { return engine.ExecuteCommand(command, i, Line(i)); }
    bool Execute(int32_t command) { return engine.ExecuteCommand(command, -1, 0); }

    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::shared_ptr<FakeHistoryFile> files = std::make_shared<FakeHistoryFile>();
    ComPtr<ITypeLib> lib;
    CustomTypeLib view;
    ScriptedChooser chooser;
    FakeActivation activation;
    FakeHistoryList list{engine, &chooser};  // bound to the engine below, which goes first
    // The fakes stand in for every kind: replay captures no target for them.
    Playback engine{files, [](uint8_t) -> ChangePtr { return nullptr; }};
};

}  // namespace changestest
