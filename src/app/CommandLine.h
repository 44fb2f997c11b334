// The program's command line: the arguments are read as option markers, option
// names and plain tokens, then scanned for the options by their first letter.
//
//   zephrin [/tlb TypeLibFile | /new] [/leh HistoryFile [/quiet [/out MsgFile]]
//           [/saveas DestTypeLibFile] [/activate] [/modifyhelp Provider]]
//           [/dontbackuphelpstringdll] [/?] [TypeLibFile]
//
// An option is written "-name", "--name" or "/name", and "name=value" may stand
// for "name value". Written with "-" or "--", any name counts by its first
// letter. Since every absolute path begins with "/", "/name" is an option only
// when nothing of that name exists (no file, folder, link, FIFO or device) and
// name (up to any "=") is an option's full name or its first letter, in either
// case; any other "/" token is a path.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zephrin::app {

struct CommandLine {
    std::string TypeLibPath;      // /tlb, or the trailing file name
    std::string HistoryPath;      // /leh
    std::string MessageFilePath;  // /out
    std::string DestinationPath;  // /saveas
    std::string ProviderText;     // /modifyhelp
    bool New = false;             // /new
    bool Quiet = false;           // /quiet
    bool Activate = false;        // /activate
    bool DontBackUpHelpString = false;  // /dontbackuphelpstringdll
    bool Help = false;            // /?, /help or any option name beginning with h
    // The first option that takes an argument and got none or an empty one, by
    // its full name ("saveas"); empty when every argument was given.
    std::string MissingArgument;
};

// One argument as the option scan sees it.
struct CommandToken {
    enum class Kind { Marker, Name, Plain };
    Kind TokenKind = Kind::Plain;
    std::string Text;
    bool operator==(const CommandToken&) const = default;
};

// True when anything of that name exists: a file, a folder, a link (even one
// that leads nowhere), a FIFO or a device.
using PathExists = std::function<bool(const std::string& path)>;

// The tokens of the arguments (the program's own name excluded).
std::vector<CommandToken> TokenizeArguments(const std::vector<std::string>& args, const PathExists& exists);

// Reads the options. A later occurrence of an option replaces an earlier one;
// option names outside the table are ignored; the scan stops at a help
// option. An option whose argument is missing (followed directly by another
// option, or last) or empty is named in MissingArgument, and the scan goes on
// at the option that follows. When the last argument is a plain token that no
// option has taken, and not empty, it is the type library path.
CommandLine ReadCommandLine(const std::vector<std::string>& args, const PathExists& exists);

}  // namespace zephrin::app
