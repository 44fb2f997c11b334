// The accessibility bridge of the test programs, built in as a static plugin:
// Qt loads it with the platform's accessibility and hands it every event,
// whether or not a reader is running; it passes them to the readers alive.
#define QT_STATICPLUGIN
#include "support/ScreenReader.h"

#include <QAccessibleBridge>
#include <QtPlugin>

#include <algorithm>
#include <vector>

namespace testsupport {
namespace {

std::vector<ScreenReader*>& Readers() {
    static std::vector<ScreenReader*> readers;
    return readers;
}

class Bridge final : public QAccessibleBridge {
public:
    void setRootObject(QAccessibleInterface*) override {}
    void notifyAccessibilityUpdate(QAccessibleEvent* event) override {
        // A reader may go, or another start, while one hears an event.
        const std::vector<ScreenReader*> readers = Readers();
        for (ScreenReader* reader : readers)
            if (std::find(Readers().begin(), Readers().end(), reader) != Readers().end()) reader->Heard(event);
    }
};

}  // namespace

ScreenReader::ScreenReader() {
    Readers().push_back(this);
    // Tells the program, as the platform tells it when a reader starts.
    if (Readers().size() == 1) QAccessible::setActive(true);
}

ScreenReader::~ScreenReader() {
    Readers().erase(std::find(Readers().begin(), Readers().end(), this));
    if (Readers().empty()) QAccessible::setActive(false);
}

}  // namespace testsupport

class TestAccessibleBridge final : public QAccessibleBridgePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QAccessibleBridgeFactoryInterface_iid FILE "ScreenReader.json")
public:
    QAccessibleBridge* create(const QString&) override {
        // Qt keeps its bridges to the end (and may delete them then).
        static testsupport::Bridge* const bridge = new testsupport::Bridge;
        return bridge;
    }
};

Q_IMPORT_PLUGIN(TestAccessibleBridge)

#include "ScreenReader.moc"
