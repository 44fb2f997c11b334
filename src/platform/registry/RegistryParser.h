// Reading registry text into a Registry: regedit exports and Wine registry files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace reg {

class Registry;

enum class Dialect { Unknown, Regedit4, Regedit5, Wine };

// Reads the file's bytes into registry, recording messages for lines that can't
// be read. prefix is the Wine prefix the file belongs to (empty for none).
// Returns false when the text as a whole is not a registry file.
bool ParseRegistryText(Registry& registry, std::string_view bytes, const std::filesystem::path& file,
                       const std::filesystem::path& prefix);

// Text helpers shared with the path mapping.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes bytes that are UTF-16LE into UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace reg
