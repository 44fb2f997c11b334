// The program's command line: the arguments are read as option markers, option
// names and plain tokens, then scanned for the options by their first letter.
//
//   zephrin [/tlb TypeLibFile | /new] [/leh HistoryFile [/quiet [/out MsgFile]]
//           [/saveas DestTypeLibFile] [/activate] [/modifyhelp Provider]]
//           [/dontbackuphelpstringdll] [/?] [TypeLibFile]
//
// An option is written "-name", "--name" or "/name", and "name=value" may stand
// for "name value". "/name" is a path rather than an option when it holds a
// further "/" before any "=", or when a file or folder of that name exists.
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
};

// One argument as the option scan sees it.
struct CommandToken {
    enum class Kind { Marker, Name, Plain };
    Kind TokenKind = Kind::Plain;
    std::string Text;
    bool operator==(const CommandToken&) const = default;
};

// True when a file or folder of that name exists.
using PathExists = std::function<bool(const std::string& path)>;

// The tokens of the arguments (the program's own name excluded).
std::vector<CommandToken> TokenizeArguments(const std::vector<std::string>& args, const PathExists& exists);

// Reads the options. A later occurrence of an option replaces an earlier one;
// option names outside the table are ignored; the scan stops at a help
// option. An option whose argument is missing (followed directly by another
// option, or last) gets an empty argument, and the scan goes on at the option
// that follows. When the last argument is a plain token that no option has
// taken, it is the type library path.
CommandLine ReadCommandLine(const std::vector<std::string>& args, const PathExists& exists);

}  // namespace zephrin::app
