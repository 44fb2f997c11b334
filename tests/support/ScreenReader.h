// A screen reader running, as far as the program and Qt can tell: while one
// lives, Qt's accessibility is switched on, as a reader that starts switches
// it on, and every accessibility event the program or Qt sends reaches each
// reader alive. The events come through an accessibility bridge built into
// the test programs that link tests/support/ScreenReader.cpp, as they reach
// the bridge of a real reader; no platform accessibility is needed, so the
// offscreen platform serves.
#pragma once

#include <QAccessible>

#include <map>

namespace testsupport {

class ScreenReader {
public:
    ScreenReader();
    virtual ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // Called for every accessibility event sent while this reader lives.
    virtual void Heard(QAccessibleEvent* /*event*/) {}
};

// A reader that counts the descriptions it is told of each object.
class DescriptionCounter : public ScreenReader {
public:
    std::map<const QObject*, int> Told;
    void Heard(QAccessibleEvent* event) override {
        if (event->type() == QAccessible::DescriptionChanged) ++Told[event->object()];
    }
};

}  // namespace testsupport
