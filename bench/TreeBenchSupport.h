// What the benchmarks of the library tree and the view share: the offscreen
// application with the editor module started, and the large library they
// open (1,500 interfaces of 12 methods and one of 2,000 methods, about 3.4 MB
// as a file), written once into the benchmark's folder and loaded.
#pragma once

#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "LargeLibrary.h"
#include "TreeLibrarySizes.h"
#include "editor/tree/EditorModule.h"

namespace benchlib {

// The one application object, offscreen; name is the program's.
inline QApplication& UiApp(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        zephrin::editor::InitEditorModule();
        return created;
    }();
    return *app;
}

// The large library, written into folder (under the temporary folder) and loaded.
inline ole::ComPtr<ole::ITypeLib> TreeLibrary(const char* folder) {
    static ole::ComPtr<ole::ITypeLib> lib = [folder] {
        ole::RegisterFileServices();
        const auto file = Folder(folder) / "large.tlb";
        BuildLarge(file.u16string(), kInterfaces, kMethods, kLargeMethods);
        std::fprintf(stderr, "library file: %ju bytes\n", static_cast<uintmax_t>(std::filesystem::file_size(file)));
        ole::ComPtr<ole::ITypeLib> loaded;
        Require(ole::LoadTypeLibEx(file.u16string().c_str(), ole::REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        return loaded;
    }();
    return lib;
}

}  // namespace benchlib
