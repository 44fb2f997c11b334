// The whole batch run of the program (zephrin -quiet -leh H -tlb L -saveas O)
// on the large library (1200 interfaces, about 4 MB): loading the file, an
// editable copy, the run of a history of 1,000 method renames, and the
// regeneration that saves the result. Beside it, one regeneration of the same
// library, which the batch run does twice (the editable copy and the save).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "LargeRecording.h"
#include "app/modCorvaneExe.h"
#include "changes/kinds/RenameChange.h"
#include "regen/TLBModifier.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/modITypeInfoHelper.h"

namespace {

using namespace benchlib;
namespace fs = std::filesystem;

constexpr int kChanges = 1000;

fs::path Dir() { return Folder("zephrin-bench-batch"); }

// The library file and a history of kChanges renames, each of a different
// method (the first 20 interfaces' methods ... every method of 50 interfaces).
const fs::path& Inputs() {
    static fs::path library;
    if (!library.empty()) return library;
    const fs::path file = Dir() / "large.tlb";
    LargeRecording session(file);
    for (int i = 0; i < kChanges; ++i) {
        const int type = i / 20, method = i % 20;
        ComPtr<ITypeInfo> info;
        Require(session.live->GetTypeInfo(static_cast<UINT>(type + 1), info.put()), "GetTypeInfo");
        zephrin::ChangeTarget target;
        target.Kind = zephrin::kTargetMember;
        target.Library = session.live;
        target.TypeIndex = type + 1;
        target.TypeName = u"ILarge" + U16(std::to_string(type));
        target.TypeKind = zephrin::NodeTypeKind(info.get());
        target.MemberName = u"Method" + U16(std::to_string(type) + "_" + std::to_string(method));
        target.MemberId = zephrin::modITypeInfoHelper::MemberIDFromName(info.get(), target.MemberName);
        target.InvokeKind = INVOKE_FUNC;
        auto rename = zephrin::modRenameChange::NewRenameChange(false);
        rename->NewName(target.MemberName + u"Renamed");
        rename->Apply(session.view, nullptr, target, session.hub.get(), 0);
    }
    if (session.recorder.ItemCount() != kChanges) throw std::runtime_error("the history was not recorded");
    session.recorder.SaveState(U16(Dir().string()), u"renames.leh");
    library = file;
    return library;
}

void BM_BatchRun(benchmark::State& state) {
    const fs::path& library = Inputs();
    const std::vector<std::string> args = {"-quiet", "-leh", (Dir() / "renames.leh").string(), "-tlb",
                                           library.string(), "-saveas", (Dir() / "out.tlb").string()};
    for (auto _ : state) {
        if (zephrin::modCorvaneExe::Main(args, {}) != 0) state.SkipWithError("the batch run failed");
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(library)) / 1e6;
    state.counters["changes"] = kChanges;
}
BENCHMARK(BM_BatchRun)->Unit(benchmark::kMillisecond);

void BM_OneRegeneration(benchmark::State& state) {
    const fs::path& library = Inputs();
    ComPtr<ITypeLib> loaded;
    Require(LoadTypeLibEx(U16(library.string()).c_str(), REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
    const std::u16string out = U16((Dir() / "regen.tlb").string());
    for (auto _ : state) {
        zephrin::TLBModifier modifier;
        modifier.StartingLibDirect(loaded.get());
        modifier.GenerateDirect(out);
    }
}
BENCHMARK(BM_OneRegeneration)->Unit(benchmark::kMillisecond);

}  // namespace
