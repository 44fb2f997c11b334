// Replacing a file's contents without ever leaving it half written.
//
// The new contents go to a temporary file beside the target, which is then
// renamed over it, keeping the target's mode, owner and group (the owner and
// group as far as the process may set them). A symbolic link is followed to
// its final target, which need not exist yet; the link stays. Only a regular
// file is ever replaced: a FIFO, socket, device or folder is refused.
//
// A file with other hard links, or one whose folder the process can't write
// to, is rewritten in place instead: the old contents are kept in memory and
// put back when the write fails, and SIGINT, SIGTERM and SIGHUP are held back
// until the write (or the putting back) is done. While a temporary file
// exists, those signals remove it before they take their course.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/automation/OleTypes.h"

namespace ole {

// Writes image to path as above. On failure the target is as it was and no
// temporary file remains: TYPE_E_CANTCREATETMPFILE when no temporary file can
// be made for a file that doesn't exist yet, TYPE_E_IOERROR otherwise (also
// for a target that isn't a regular file, and for one that can't be written:
// no write permission for its owner, or none for this process).
// GetLastFileWriteError then says why.
HRESULT ReplaceFileContents(const std::u16string& path, const std::vector<std::byte>& image);

// Why the last ReplaceFileContents on this thread failed, naming the file
// ("'/x/out.tlb' is not a regular file."); empty after a success.
std::u16string GetLastFileWriteError();

// What a file of that mode (st_mode) is, for messages: "a FIFO", "a folder" ...
const char* FileKindText(unsigned mode);

// A path as messages name it: in single quotes.
std::string Quoted(const std::string& path);

}  // namespace ole
