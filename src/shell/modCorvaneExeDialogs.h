// The shell's file choosers and the checks they make before they close: the
// Open and Save choosers of type libraries, and the Save chooser of Library
// Edit Histories. Each returns the chosen path, or an empty string when the
// user cancelled. The choosers and their messages go through the UI services.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

namespace zephrin::shell {

// A chooser's check of a chosen name: false refuses it (the check has told
// the user why) and keeps the chooser open.
using FileHook = std::function<bool(const QString& path)>;

// Resource strings of the choosers.
inline constexpr int32_t kTitleSaveLibrary = 110;
inline constexpr int32_t kFilterSaveLibrary = 111;
inline constexpr int32_t kTitleOpenLibrary = 112;
inline constexpr int32_t kFilterOpenLibrary = 113;
inline constexpr int32_t kTitleSaveHistory = 162;
inline constexpr int32_t kFilterHistory = 163;
inline constexpr int32_t kTitleOpenHistory = 164;

QString ShowOpenFileDialog(QWidget* owner, int32_t filterId, int32_t titleId, FileHook hook);
QString ShowSaveFileDialog(QWidget* owner, const QString& initialName, int32_t filterId, int32_t titleId,
                           const QString& defaultExtension, FileHook hook);
// The Save chooser of a Library Edit History (".leh"), without a check.
QString GetSaveLehFileName(QWidget* owner, const QString& initialName);

// Refuses a file that doesn't load as a type library (message 114).
bool OpenLibraryHook(const QString& path);
// Refuses a file that isn't a Library Edit History (168) or has a newer
// version (169); a file that can't be read passes.
bool OpenHistoryHook(const QString& path);
// Asks before a file that is not a standalone type library is overwritten
// (109, or for a library of the compact SLTG format 178, which says so; No by
// default); No refuses the name. A new name passes.
bool SaveLibraryHook(const QString& path);

}  // namespace zephrin::shell
