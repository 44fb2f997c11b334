// A library file as the platform itself reads it: the text of the reference
// dumper (run under Wine), in the form the program's own dump routine
// (tests/tools/DumpTypeLib.h) prints, so that the two compare line for line.
// Where the dumper or Wine is not installed there is nothing to compare with,
// and the tests that need it skip that part.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

inline std::optional<std::string> ReferenceDump(const std::filesystem::path& file) {
    const char* configured = std::getenv("REFERENCE_DUMP");
    const std::filesystem::path tool = configured ? configured : "/work/shared/tools/reference-dump";
    std::error_code ec;
    if (!std::filesystem::exists(tool, ec) || !std::filesystem::exists("/usr/lib/wine/wine", ec)) return std::nullopt;
    const std::string command = "'" + tool.string() + "' '" + file.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    if (pclose(pipe) != 0 || text.empty()) return std::nullopt;
    return text;
}

}  // namespace testsupport
