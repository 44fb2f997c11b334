// Accessibility switched on, as a screen reader that starts switches it on.
// Qt sends its accessibility events (to QAccessible::installUpdateHandler's
// handler too) only while the platform's accessibility is active, which the
// offscreen platform never makes it by itself; tests that listen to the
// events, and the session driver, make it active while they run.
#pragma once

#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

namespace testsupport {

class ActiveAccessibility {
public:
    ActiveAccessibility() { Set(true); }
    ~ActiveAccessibility() { Set(false); }
    ActiveAccessibility(const ActiveAccessibility&) = delete;
    ActiveAccessibility& operator=(const ActiveAccessibility&) = delete;

private:
    static void Set(bool active) {
        if (QPlatformIntegration* platform = QGuiApplicationPrivate::platformIntegration())
            if (QPlatformAccessibility* accessibility = platform->accessibility()) accessibility->setActive(active);
    }
};

}  // namespace testsupport
