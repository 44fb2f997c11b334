// Mapping paths read from registry values to local files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace reg {

// Maps a path from a registry value to a local path:
// - a POSIX path ("/...") is returned as it is;
// - a Windows path ("C:\dir\file", "\dir\file" meaning drive C:) goes through
//   prefix/dosdevices/<letter>: when there is such a link, else stays as it is;
// - a relative path is taken from baseFolder (the registry file's folder).
// Each component is matched without regard to case. A trailing all-digit
// component after an existing file is a resource number and is kept as "\N".
std::string MapRegistryPath(std::string_view text, const std::filesystem::path& prefix,
                            const std::filesystem::path& baseFolder);

// Appends the "\" or "/"-separated components of relative to base, matching
// each against the directory's entries without regard to case when there is
// no exact match. Components not found are appended as written.
std::filesystem::path ResolveCaseInsensitive(const std::filesystem::path& base, std::string_view relative);

}  // namespace reg
