// Scripted UI services, a small library to order, and saving and reloading,
// for the dialog tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QDialog>
#include <QPixmap>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "changes/hub/ChangeTarget.h"
#include "dialogs/ContrastStyle.h"
#include "dialogs/UiServices.h"
#include "support/Screenshots.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/TempDir.h"
#include "support/TypeLibBuilder.h"
#include "typelib/CustomTypeLib.h"

namespace dialogstest {

using namespace testsupport;
using namespace zephrin;
using namespace zephrin::dialogs;

// Answers messages from a script, counts beeps, and runs each modal dialog
// through `modal` (which drives it and closes it) instead of a modal loop.
class FakeServices : public UiServices {
public:
    std::vector<std::pair<QString, int32_t>> messages;
    std::vector<MessageAnswer> answers;
    int beeps = 0;
    std::function<void(QDialog&)> modal;

    MessageAnswer MessageBox(QWidget*, const QString& text, int32_t style) override {
        messages.emplace_back(text, style);
        if (answers.empty()) return kAnswerOk;
        const MessageAnswer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    void Beep() override { ++beeps; }
    QString OpenFileName(QWidget*, const FileRequest&) override { return {}; }
    QString SaveFileName(QWidget*, const FileRequest&) override { return {}; }
    int RunModal(QDialog& dialog) override {
        if (modal) modal(dialog);
        return dialog.result();
    }
};

// One application for every test of the suite (offscreen).
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "dialogs_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return *static_cast<QApplication*>(QApplication::instance());
}

using testsupport::SaveScreenshots;

// The colour of widget's text as drawn on its background (its parent's
// Window colour): the drawn pixel that stands out most from the background.
inline QColor InkOf(QWidget& widget) {
    const QColor background = widget.parentWidget() ? widget.parentWidget()->palette().color(QPalette::Window)
                                                    : widget.palette().color(QPalette::Window);
    QPixmap pixmap(widget.size());
    pixmap.fill(background);
    widget.render(&pixmap, {}, {}, QWidget::DrawChildren);
    const QImage image = pixmap.toImage();
    QColor ink = background;
    double most = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QColor pixel = image.pixelColor(x, y); ContrastRatio(pixel, background) > most) {
                most = ContrastRatio(pixel, background);
                ink = pixel;
            }
    return ink;
}


// library DialogLib {
//   enum Colors { Red, Green, Blue };
//   struct Pair { long a; long b; }            (not laid out: both with member ID NIL)
//   interface IThing : IDispatch { F0(); [propget] F1(); F2(); }
//   interface IGappy : IUnknown { G0() at offset 12; G1() at offset 20; }
// }
inline ComPtr<ITypeLib> DialogLib() {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"DialogLib");
    EXPECT_OK(lib->SetGuid({0x1B2C3D4E, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}}));
    auto colors = NewType(lib.get(), u"Colors", TKIND_ENUM);
    auto pair = NewType(lib.get(), u"Pair", TKIND_RECORD);
    auto thing = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
    auto gappy = NewType(lib.get(), u"IGappy", TKIND_INTERFACE);
    const char16_t* names[] = {u"Red", u"Green", u"Blue"};
    for (int i = 0; i < 3; ++i) {
        const Variant value = Variant::Int(i);
        AddVar(colors.get(), static_cast<UINT>(i), names[i], Vt(VT_INT), VAR_CONST, &value);
    }
    AddVar(pair.get(), 0, u"a", Vt(VT_I4));
    AddVar(pair.get(), 1, u"b", Vt(VT_I4));
    EXPECT_OK(thing->AddImplType(0, RefTo(thing.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(thing.get(), 0, {.name = u"F0"});
    AddFunc(thing.get(), 1, {.name = u"F1", .invkind = INVOKE_PROPERTYGET});
    AddFunc(thing.get(), 2, {.name = u"F2"});
    EXPECT_OK(gappy->AddImplType(0, RefTo(gappy.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(gappy.get(), 0, {.name = u"G0", .oVft = 12});
    AddFunc(gappy.get(), 1, {.name = u"G1", .oVft = 20});
    return AsTypeLib(lib.get());
}

// Generated names that differ only at their end.
inline constexpr const char16_t* kLongNames[] = {u"__MIDL___MIDL_itf_ads_0000_0000_0001",
                                                 u"__MIDL___MIDL_itf_ads_0000_0000_0002"};
// library LongNames {
//   interface IFirst : IUnknown { Short(); kLongNames[0](); kLongNames[1](); }
//   struct kLongNames[0] {}; struct kLongNames[1] {};
// }
inline ComPtr<ITypeLib> LongNamesLib() {
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"LongNames");
    auto first = NewType(created.get(), u"IFirst", TKIND_INTERFACE);
    EXPECT_OK(first->AddImplType(0, RefTo(first.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(first.get(), 0, {.name = u"Short"});
    for (UINT i = 0; i < 2; ++i) {
        NewType(created.get(), kLongNames[i], TKIND_RECORD);
        AddFunc(first.get(), i + 1, {.name = kLongNames[i]});
    }
    return AsTypeLib(created.get());
}

inline ChangeTarget TargetOf(ITypeLib* lib, int32_t typeIndex) {
    ChangeTarget target;
    target.Kind = typeIndex < 0 ? kTargetLibrary : kTargetType;
    target.Library = ComPtr<ITypeLib>(lib);
    target.TypeIndex = typeIndex < 0 ? 0 : typeIndex;
    return target;
}

// Writes the library to a new file and loads that file.
inline ComPtr<ITypeLib> SaveAndReload(ITypeLib* lib) {
    static TempDir dir;
    static int counter = 0;
    RegisterFileServices();
    const std::u16string path = (dir.path() / ("saved" + std::to_string(counter++) + ".tlb")).u16string();
    std::shared_ptr<const LibraryData> data;
    EXPECT_OK(GetLibraryData(lib, true, &data));
    if (!data) return nullptr;
    EXPECT_OK(WriteMsftTypeLib(*data, path));
    ComPtr<ITypeLib> reloaded;
    EXPECT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, reloaded.put()));
    return reloaded;
}

inline std::u16string TypeName(ITypeLib* lib, UINT index) {
    BSTR name = nullptr;
    EXPECT_OK(lib->GetDocumentation(static_cast<INT>(index), &name, nullptr, nullptr, nullptr));
    std::u16string text = name ? std::u16string(name) : std::u16string();
    SysFreeString(name);
    return text;
}

}  // namespace dialogstest
