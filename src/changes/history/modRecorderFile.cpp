// The Library Edit History file: header, change records, and the whole file
// around the reference tables of the cache.
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/VTICache.h"
#include "changes/history/modRecorder.h"
#include "foundation/ErrorRecord.h"

namespace zephrin::modRecorder {

namespace {

constexpr int32_t kUnsavedBits = ChangeNode::kCurrent | ChangeNode::kBreakpoint;

}  // namespace

std::vector<std::byte> WriteEditHistory(const std::list<ChangeNode>& items, VTICache& cache,
                                        const std::filesystem::path& folder) {
    HistoryFileWriter out(cache, kHistoryVersion);
    out.PutLong(kHistoryMagic);
    out.PutLong(kHistoryVersion);
    cache.SaveHistoryBody(out, folder, [&](HistoryFileWriter& records) { WriteChangeRecords(records, items); });
    return out.Bytes();
}

void WriteChangeRecords(HistoryFileWriter& out, const std::list<ChangeNode>& items) {
    for (const ChangeNode& item : items) {
        try {
            const uint8_t code = item.KindCode();
            if (!item.Change && !IsStatelessKind(code)) RaiseError(kErrInvalidArgument, u"The change is missing.");
            out.PutLong(item.Flags & ~kUnsavedBits);
            out.PutString(item.Text);
            out.PutString(item.TypeName);
            out.PutString(item.MemberName);
            out.PutString(item.ParamName);
            out.PutByte(item.TypeKind);
            out.PutByte(item.IndexByte);
            out.PutInteger(item.ParamIndex);
            if (!IsStatelessKind(code)) item.Change->Save(out, out.Version());
        } catch (ErrorRecord& e) {
            // Name the item, so that the user knows which change cannot be saved.
            constexpr size_t kShownText = 80;
            const std::u16string shown =
                item.Text.size() > kShownText ? item.Text.substr(0, kShownText) + u"..." : item.Text;
            e.Description = u"The history item \"" + shown + u"\" cannot be saved: " + e.Description;
            throw;
        }
    }
    out.PutLong(-1);
}

int32_t OpenEditHistory(HistoryFileReader& in) {
    if (in.Remaining() < 8 || in.GetLong() != kHistoryMagic) in.Refuse();
    const int32_t version = in.GetLong();
    if (version < 0 || version > kHistoryVersion) in.Refuse();
    in.Version(version);
    return version;
}

std::list<ChangeNode> ReadEditHistory(std::span<const std::byte> file, VTICache& cache,
                                      const std::filesystem::path& folder, const ChangeCreator& create) {
    HistoryFileReader in(file);
    OpenEditHistory(in);
    std::list<ChangeNode> items;
    cache.LoadHistoryBody(in, folder, [&](HistoryFileReader& records) { items = ReadChangeRecords(records, create); });
    return items;
}

std::list<ChangeNode> ReadChangeRecords(HistoryFileReader& in, const ChangeCreator& create) {
    std::list<ChangeNode> items;
    for (int32_t flags = in.GetLong(); flags != -1; flags = in.GetLong()) {
        ChangeNode item;
        item.Flags = flags & ~kUnsavedBits;
        const uint8_t code = item.KindCode();
        // A kind names only the targets it can apply to.
        if (IsChangeKind(code) && !AcceptsTarget(code, item.TargetKind())) in.Refuse();
        item.Change = IsChangeKind(code) && create ? create(code) : nullptr;
        if (!item.Change) in.Refuse();
        item.Text = GetHistoryString(in);
        item.TypeName = GetHistoryString(in);
        item.MemberName = GetHistoryString(in);
        item.ParamName = GetHistoryString(in);
        item.TypeKind = in.GetByte();
        item.IndexByte = in.GetByte();
        item.ParamIndex = in.GetInteger();
        if (!IsStatelessKind(code)) {
            if (!in.Cache()) in.Refuse();
            item.Change->Load(in, in.Version(), *in.Cache());
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::u16string GetHistoryString(HistoryFileReader& in) { return in.GetString(); }

}  // namespace zephrin::modRecorder
