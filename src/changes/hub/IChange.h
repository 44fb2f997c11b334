// The contract every change object keeps. A change knows one kind of edit,
// holds its values, applies itself to the library being edited and then tells
// a listener, describes itself in one line for the history, and can be saved
// to and loaded from a history file.
//
// Changes are reference counted through std::shared_ptr: whoever holds one
// (a history item, or the view while an edit is pending) keeps it alive. Each
// stateful kind is created by its creator, New<Kind>(forceHeap) (forceHeap is
// accepted and has no effect on where the object lives); each stateless kind is
// one shared object, Get<Kind>(), whose payload operations do nothing (see
// StatelessChange). A change must be owned by a shared_ptr before it is applied:
// the history keeps the stateless ones by that pointer.
//
// Calling order while editing: creator; the kind's setters; Apply with the hub
// as listener; the history engine, one of the hub's listeners, keeps a Clone.
// In replay: BindToLibrary, Apply, DetachFromLibrary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "changes/hub/ChangeTarget.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin {

class CustomTypeLib;
class IChangeListener;
class IHistoryReferenceCache;
// The record streams of the history file; defined with the history file.
class HistoryFileWriter;
class HistoryFileReader;

class IChange;
using ChangePtr = std::shared_ptr<IChange>;

class IChange : public std::enable_shared_from_this<IChange> {
public:
    virtual ~IChange() = default;

    // Modifies library at target, then, when listener is given, calls on it
    // the notification of the kind (NotifyListener) with (target, *this,
    // flags, 0). Attribute kinds notify only when a field really changed.
    // captured: in replay of a kind that captures its target, a fresh object
    // of the kind filled by InitFromTarget; null otherwise. flags is passed
    // through to the listener (replay: 0 inside a run, 1 for the change before
    // a stop, 2 for a single step). Returns false when nothing was applied
    // (a listener cancelled a type change). Errors of the library propagate.
    virtual bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                       int32_t flags) = 0;
    // The one-line text shown in the history list.
    virtual std::u16string Describe(ChangeTarget& target) = 0;
    // Fills this object with the target's current values in its live library.
    virtual void InitFromTarget(ChangeTarget& target) = 0;
    // A new object of the same kind holding a copy of the values.
    virtual ChangePtr Clone() = 0;
    // True when any value of other differs; structural kinds always answer true.
    virtual bool Differs(IChange& other) = 0;
    // The kind's payload in a change record of the history file.
    virtual void Save(HistoryFileWriter& out, int32_t version) = 0;
    virtual void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) = 0;
    // Before a replayed Apply: turns every cache entry the change holds into a
    // live object of context; attribute kinds also take every value they do
    // not modify from current (the captured object; may be null).
    virtual void BindToLibrary(ole::ITypeLib* context, IChange* current) = 0;
    // After Apply: replaces every live object the change holds by its entry in
    // the history reference cache, so the history holds no library.
    virtual void DetachFromLibrary(IHistoryReferenceCache& cache) = 0;
};

}  // namespace zephrin
