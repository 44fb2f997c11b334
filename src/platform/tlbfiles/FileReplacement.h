// Replacing a file's contents without ever leaving it half written, and only
// while it is still the file that was read.
//
// The target is found once: a symbolic link is followed to its final target,
// which need not exist yet (the link stays), and its folder is then held open;
// everything after that works inside that folder, so a link swapped in later
// redirects nothing. Only a regular file is ever replaced: a FIFO, socket,
// device or folder is refused. While the file is written it is locked
// (flock), so that two programs that lock it never write it at once, and it
// is replaced only while its name still leads to the same file, in the same
// version, as before the save (or as when it was read, for a SaveGuard that
// expects a version).
//
// The new contents go to an unnamed temporary file in the target's folder
// (a named one where the file system has none), which gets the target's
// owner, group, mode and extended attributes (its ACL among them) and is then
// renamed over the target. Where the owner, group or extended attributes
// can't be given to a new file, a file with other hard links, or one whose
// folder the process can't write to, is rewritten in place instead: the old
// contents are kept in memory and put back when the write fails, and the
// signals another program may send (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM
// ..., but SIGKILL and SIGSTOP) are held back until the write (or the putting
// back) is done. While a named temporary file exists, SIGINT, SIGTERM and
// SIGHUP remove it before they take their course. A save killed outright
// (SIGKILL) between naming its temporary file and the rename leaves it beside
// a file that existed, under the file's name with ".zephrin-save" added; the
// next save of the file removes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation/OleTypes.h"

namespace ole {

// Which file a name led to (device and inode) and in which version (size and
// modification time); Exists false when the name led to nothing.
struct FileIdentity {
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedSeconds = 0;
    int64_t ModifiedNanoseconds = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what path names now, its symbolic links followed. Taken
// just before a library file is read, it is what a later save back to that
// file expects (SaveGuard). A name that leads to nothing, or that can't be
// looked at, gives Exists false.
FileIdentity GetFileIdentity(const std::u16string& path);

// Saving to one file under conditions, on this thread, while it lives: a
// ReplaceFileContents of exactly that path then replaces the file only while
// the name leads to the expected file, unchanged (or, expecting none, still
// to nothing), and otherwise fails with TYPE_E_IOERROR, "... changed while it
// was being edited". The target is found when the guard is made, and its
// folder held from then on. Guards may nest; the innermost for a path counts.
class SaveGuard {
public:
    // Without expected, the file is expected as it is when the guard is made
    // (or, after Lock, as it is once locked).
    explicit SaveGuard(std::u16string path, std::optional<FileIdentity> expected = std::nullopt);
    ~SaveGuard();
    SaveGuard(const SaveGuard&) = delete;
    SaveGuard& operator=(const SaveGuard&) = delete;

    // Locks the file (flock) until the guard goes, waiting a few seconds for
    // another program that holds it; a file that doesn't exist needs no lock.
    // On failure GetLastFileWriteError says why. Where the name leads to
    // another file by the time the lock is had, that file is locked instead.
    HRESULT Lock();
    // Fails, as a save would, when the name (its links followed again, or in
    // the held folder) no longer leads to the expected file, unchanged: after
    // a library is read by its name, whether it was the file locked.
    HRESULT Check() const;
    // The file expected (after Lock without an expected version: as locked).
    const FileIdentity& Expected() const;
    // The file as the last successful save through the guard left it; what a
    // later save to the same file expects.
    const FileIdentity& Saved() const;

    struct State;

private:
    State* state_;
};

// Writes image to path as above. On failure the target is as it was and no
// temporary file remains: TYPE_E_CANTCREATETMPFILE when no temporary file can
// be made for a file that doesn't exist yet, TYPE_E_IOERROR otherwise (also
// for a target that isn't a regular file, one that can't be written: no write
// permission for its owner, or none for this process, one that another
// program holds locked, and one that changed against its SaveGuard).
// GetLastFileWriteError then says why.
HRESULT ReplaceFileContents(const std::u16string& path, const std::vector<std::byte>& image);

// Why the last ReplaceFileContents or SaveGuard::Lock on this thread failed,
// naming the file ("'/x/out.tlb' is not a regular file."); empty after a success.
std::u16string GetLastFileWriteError();

// What a file of that mode (st_mode) is, for messages: "a FIFO", "a folder" ...
const char* FileKindText(unsigned mode);

// A path as messages name it: in single quotes.
std::string Quoted(const std::string& path);

}  // namespace ole
