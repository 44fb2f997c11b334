// libFuzzer target: reads arbitrary bytes as registry text (a regedit export,
// UTF-8 or UTF-16, or a Wine registry file), then walks every key of every
// hive and of the classes root, maps every string value to a path (expanding
// the %variables% of REG_EXPAND_SZ values) and reads the messages. Any crash,
// leak, hang or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry/Registry.h"

namespace {

size_t Walk(const reg::Registry& registry, const reg::Key& key, int depth) {
    size_t seen = key.name().size() + key.longestValueName() + key.longestValueData();
    for (const reg::Value* value : key.values())
        if (value->isString()) seen += registry.mapPath(*value).size();
    if (depth < 64)
        for (size_t i = 0; i < key.subkeyCount(); ++i) seen += Walk(registry, *key.subkey(i), depth + 1);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reg::Registry registry;
    // A file in a folder that does not exist: relative paths resolve nowhere.
    registry.loadText(std::string_view(reinterpret_cast<const char*>(data), size), "/nonexistent/fuzz/input.reg");
    size_t seen = 0;
    for (reg::Hive hive : {reg::Hive::LocalMachine, reg::Hive::CurrentUser, reg::Hive::Users, reg::Hive::CurrentConfig})
        seen += Walk(registry, registry.root(hive), 0);
    seen += Walk(registry, registry.classesRoot(), 0);
    if (const reg::Key* clsid = registry.classesRoot().open("CLSID")) seen += clsid->subkeyCount();
    for (const reg::ParseError& e : registry.errors()) seen += e.text().size();
    volatile size_t sink = seen;
    (void)sink;
    return 0;
}
