// Hands the events of one object to a handler, which returns true to consume
// an event. Owned by the watched object, so it goes with it; a window whose
// handlers use its own members deletes its hooks (found by kName) first
// thing when it is destroyed, before its children start sending events.
#pragma once

#include <QObject>

#include <functional>
#include <utility>

namespace zephrin::editor {

class EventHook final : public QObject {
public:
    static constexpr const char* kName = "EventHook";

    EventHook(QObject* watched, std::function<bool(QEvent*)> handler)
        : QObject(watched), handler_(std::move(handler)) {
        setObjectName(QLatin1String(kName));
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override { return handler_(event); }

private:
    std::function<bool(QEvent*)> handler_;
};

}  // namespace zephrin::editor
