// The record GUID tracker on a library of many records: every record's GUID
// is edited through the hub, then a program that holds a descriptor for each
// record is patched. Each edit finds the record's entry by its GUID and the
// patch takes each entry once, so the time per record should not grow with
// the number of records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "changes/hub/ChangeListener.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/kinds/TypeChange.h"
#include "changes/trackers/RecordGuidTracker.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

using namespace zephrin;
using ole::ComPtr;

namespace {

constexpr ole::GUID kLibGuid{0x11B0000A, 0x1234, 0x4321, {0x80, 0, 0, 0, 0, 0, 0, 0}};

// Record n's GUID in generation g. The GUIDs share their first word, as
// numbered series do, so that the patch can't tell them apart by it.
ole::GUID RecordGuid(uint32_t n, uint16_t g) {
    return {0x5EC0D000, g, 0x4321, {0x80, 0, 0, 0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 7}};
}

std::u16string Name(int i) {
    std::u16string name = u"Record";
    for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
    return name;
}

void Check(ole::HRESULT hr) {
    if (ole::FAILED(hr)) throw std::runtime_error("platform call failed");
}

struct Library {
    ComPtr<ole::ICreateTypeLib2> created;
    ComPtr<ole::ITypeLib> lib;
    std::vector<ComPtr<ole::ICreateTypeInfo2>> records;
};

// n records, each with one field and GUID generation 1.
Library Records(int n) {
    Library l;
    Check(ole::CreateTypeLib2(ole::SYS_WIN32, u"", l.created.put()));
    Check(l.created->SetGuid(kLibGuid));
    Check(l.created->SetName(u"Records"));
    for (int i = 0; i < n; ++i) {
        ComPtr<ole::ICreateTypeInfo> ti;
        Check(l.created->CreateTypeInfo(Name(i).c_str(), ole::TKIND_RECORD, ti.put()));
        ComPtr<ole::ICreateTypeInfo2> record;
        Check(ti.As(&record));
        Check(record->SetGuid(RecordGuid(static_cast<uint32_t>(i), 1)));
        ole::VARDESC vd{};
        vd.memid = ole::MEMBERID_NIL;
        vd.varkind = ole::VAR_PERINSTANCE;
        vd.elemdescVar.tdesc.vt = ole::VT_I4;
        Check(record->AddVarDesc(0, &vd));
        Check(record->SetVarName(0, u"x"));
        l.records.push_back(record);
    }
    Check(l.created.As(&l.lib));
    return l;
}

// Every record's GUID set to generation g, as a type change reports it.
void EditAll(Library& l, const std::shared_ptr<ChangeListener>& hub, uint16_t g) {
    for (size_t i = 0; i < l.records.size(); ++i) {
        ChangeTarget target;
        target.Kind = kTargetType;
        target.Library = l.lib;
        target.TypeIndex = static_cast<int32_t>(i);
        std::shared_ptr<IAttributeChange> change = modTypeChange::NewTypeChange(false);
        change->Guid(RecordGuid(static_cast<uint32_t>(i), g));
        bool cancel = false;
        hub->OnBeforeTypeChange(target, *change, cancel, 0);
        Check(l.records[i]->SetGuid(change->Guid()));
        hub->OnTypeChange(target, *change, 0, 0);
    }
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}
void PutGuid(std::vector<uint8_t>& b, size_t at, const ole::GUID& g) {
    Put32(b, at, g.Data1);
    b[at + 4] = static_cast<uint8_t>(g.Data2), b[at + 5] = static_cast<uint8_t>(g.Data2 >> 8);
    b[at + 6] = static_cast<uint8_t>(g.Data3), b[at + 7] = static_cast<uint8_t>(g.Data3 >> 8);
    for (int k = 0; k < 8; ++k) b[at + 8 + k] = g.Data4[k];
}

// A PE32 image whose ".text" section (at file offset 0x200, loaded at
// 0x401000) holds each record's GUID of generation 1 and a descriptor for it:
// the library GUID, the record GUID's address, the library GUID's address.
std::vector<uint8_t> Program(int n) {
    constexpr uint32_t kAt = 0x200, kLoaded = 0x401000;
    const uint32_t size = static_cast<uint32_t>(n) * 40;
    std::vector<uint8_t> b(kAt + size, 0);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    Put32(b, 0x40, 0x4550);
    Put32(b, 0x44, 0x0001014C);  // i386, one section
    Put32(b, 0x54, 0xE0);        // SizeOfOptionalHeader
    Put32(b, 0x58, 0x10B);       // PE32
    Put32(b, 0x58 + 0x1C, 0x400000);
    const size_t section = 0x58 + 0xE0;
    std::copy_n(".text", 5, b.begin() + static_cast<ptrdiff_t>(section));
    Put32(b, section + 8, size), Put32(b, section + 12, 0x1000), Put32(b, section + 16, size),
        Put32(b, section + 20, kAt);
    for (int i = 0; i < n; ++i) {
        const uint32_t at = kAt + static_cast<uint32_t>(i) * 40, loaded = kLoaded + (at - kAt);
        PutGuid(b, at, RecordGuid(static_cast<uint32_t>(i), 1));
        PutGuid(b, at + 16, kLibGuid);
        Put32(b, at + 32, loaded);
        Put32(b, at + 36, loaded + 16);
    }
    return b;
}

void Write(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void BM_EditRecordGuids(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Library l = Records(n);
    uint16_t g = 1;
    for (auto _ : state) {
        state.PauseTiming();
        auto hub = std::make_shared<ChangeListener>();
        RecordGuidTracker tracker;
        tracker.Initialize(l.lib.get());
        tracker.ChangeListener(hub);
        state.ResumeTiming();
        EditAll(l, hub, ++g);
        benchmark::DoNotOptimize(tracker.ChangeCount());
    }
    state.counters["records"] = n;
}
BENCHMARK(BM_EditRecordGuids)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PatchProgram(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Library l = Records(n);
    auto hub = std::make_shared<ChangeListener>();
    RecordGuidTracker tracker;
    tracker.Initialize(l.lib.get());
    tracker.ChangeListener(hub);
    EditAll(l, hub, 2);
    const int32_t count = tracker.ChangeCount();
    const std::vector<uint8_t> program = Program(n);
    const std::filesystem::path exe = std::filesystem::temp_directory_path() / "bench_record_guid_tracker.exe";
    for (auto _ : state) {
        state.PauseTiming();
        Write(exe, program);
        state.ResumeTiming();
        if (!tracker.UpdateRecordGuidsInExecutable(count, exe)) state.SkipWithError("nothing patched");
    }
    std::filesystem::remove(exe);
    state.counters["records"] = n;
}
BENCHMARK(BM_PatchProgram)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
