// libFuzzer target: reads arbitrary bytes as a Library Edit History file, with
// the attribute change kinds and a stand-in delete. Reading either fails
// with error 62 (the file ends early) or error 5 (bad content), leaving the
// cache empty, or succeeds; what was read then writes back, and reading that
// and writing it again gives the same bytes. Anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "changes/hub/VTICache.h"
#include "changes/history/modRecorder.h"
#include "foundation/ErrorRecord.h"
#include "support/HistoryTestChanges.h"

using namespace zephrin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path folder("/nonexistent/history");
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    VTICache cache;
    std::list<ChangeNode> items;
    try {
        items = modRecorder::ReadEditHistory(bytes, cache, folder, testsupport::CreateTestChange);
    } catch (const ErrorRecord& e) {
        if (e.Number != kErrInputPastEnd && e.Number != kErrInvalidArgument) std::abort();
        if (cache.LibraryCount() + cache.TypeCount() + cache.VarTypeCount() != 0) std::abort();
        return 0;
    }
    const std::vector<std::byte> first = modRecorder::WriteEditHistory(items, cache, folder);
    VTICache again;
    const std::list<ChangeNode> reread = modRecorder::ReadEditHistory(first, again, folder, testsupport::CreateTestChange);
    if (reread.size() != items.size()) std::abort();
    if (modRecorder::WriteEditHistory(reread, again, folder) != first) std::abort();
    return 0;
}
