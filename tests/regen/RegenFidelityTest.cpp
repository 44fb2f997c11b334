// Regeneration without requests keeps every attribute of a library: each
// golden library and library form comes out as the platform reads the
// original, with the library's help file reduced to its file name. It does so
// from the loaded file, and from the modifiable copy CustomTypeLib.Duplicate
// makes of it (whose editable interfaces take fresh automatic offsets).
#include "RegenTestSupport.h"
#include "typelib/CustomTypeLib.h"

namespace regentest {
namespace {

std::vector<std::string> Inputs() {
    std::vector<std::string> out;
    for (const char* folder : {"golden", "forms"})
        for (const auto& e : fs::directory_iterator(fs::path(ZEPHRIN_TEST_DATA_DIR) / folder))
            if (e.path().extension() == ".tlb" && e.path().stem() != "unresolved")
                out.push_back(std::string(folder) + "/" + e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The dump with the library's help file name reduced to its file-name part.
std::string WithHelpFileName(std::string dump) {
    const std::string key = " helpfile=\"";
    const size_t at = dump.find(key);
    if (at == std::string::npos) return dump;
    const size_t start = at + key.size(), end = dump.find('"', start);
    const size_t cut = dump.rfind("\\\\", end);
    if (cut != std::string::npos && cut > start) dump.erase(start, cut + 2 - start);
    return dump;
}

class Fidelity : public ::testing::TestWithParam<std::string> {
protected:
    fs::path Input() const { return fs::path(ZEPHRIN_TEST_DATA_DIR) / (GetParam() + ".tlb"); }
    TempDir dir;
};

TEST_P(Fidelity, RegeneratingTheLoadedLibraryKeepsEverything) {
    ComPtr<ITypeLib> lib = LoadFile(Input());
    ASSERT_TRUE(lib);
    TLBModifier modifier;
    modifier.StartingLibDirect(lib.get());
    const fs::path out = dir / "out.tlb";
    ComPtr<ITypeLib> result = modifier.GenerateDirect(out.u16string());
    ASSERT_TRUE(result);
    EXPECT_EQ(DumpOf(out), WithHelpFileName(DumpOf(Input())));
}

TEST_P(Fidelity, ADuplicateSavedThroughRegenerationKeepsEverything) {
    zephrin::InstallLibraryCopier();
    ComPtr<ITypeLib> lib = LoadFile(Input());
    ASSERT_TRUE(lib);
    zephrin::CustomTypeLib copy;
    copy.Duplicate(Info(lib.get()).get());
    ASSERT_TRUE(copy.CreateView());  // a modifiable library
    TLBModifier modifier;
    modifier.StartingLibDirect(copy.ReadView().get());
    const fs::path out = dir / "out.tlb";
    modifier.GenerateDirect(out.u16string());
    EXPECT_EQ(DumpOf(out), WithHelpFileName(DumpOf(Input())));
}

INSTANTIATE_TEST_SUITE_P(Libraries, Fidelity, ::testing::ValuesIn(Inputs()), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
});

}  // namespace
}  // namespace regentest
