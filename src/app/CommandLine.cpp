#include "app/CommandLine.h"

#include <array>
#include <cctype>
#include <optional>
#include <string_view>

namespace zephrin::app {

namespace {

// The options by their full names; each counts by its first letter too.
constexpr std::array<const char*, 11> kOptionNames = {
    "tlb", "leh", "out", "saveas", "modifyhelp", "new", "quiet", "activate", "dontbackuphelpstringdll", "help", "?"};

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool SameText(const std::string& a, const char* b) {
    const std::string_view other(b);
    if (a.size() != other.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(other[i])) return false;
    return true;
}

// A name written after "/": an option's full name or first letter.
bool IsSlashOptionName(const std::string& name) {
    for (const char* option : kOptionNames)
        if (SameText(name, option) || (name.size() == 1 && Upper(name[0]) == Upper(option[0]))) return true;
    return false;
}

void PushOption(std::vector<CommandToken>& tokens, const std::string& body) {
    const size_t eq = body.find('=');
    tokens.push_back({CommandToken::Kind::Marker, ""});
    tokens.push_back({CommandToken::Kind::Name, body.substr(0, eq)});
    if (eq != std::string::npos) tokens.push_back({CommandToken::Kind::Plain, body.substr(eq + 1)});
}

}  // namespace

std::vector<CommandToken> TokenizeArguments(const std::vector<std::string>& args, const PathExists& exists) {
    std::vector<CommandToken> tokens;
    for (const std::string& arg : args) {
        if (arg.size() >= 2 && arg[0] == '-') {
            const std::string body = arg.substr(arg[1] == '-' ? 2 : 1);
            if (!body.empty()) {
                PushOption(tokens, body);
                continue;
            }
        } else if (arg.size() >= 2 && arg[0] == '/') {
            const std::string body = arg.substr(1);
            if (IsSlashOptionName(body.substr(0, body.find('='))) && !(exists && exists(arg))) {
                PushOption(tokens, body);
                continue;
            }
        }
        tokens.push_back({CommandToken::Kind::Plain, arg});
    }
    return tokens;
}

CommandLine ReadCommandLine(const std::vector<std::string>& args, const PathExists& exists) {
    const std::vector<CommandToken> tokens = TokenizeArguments(args, exists);
    CommandLine line;
    std::optional<size_t> lastRead;
    size_t i = 0;
    while (i < tokens.size()) {
        if (tokens[i].TokenKind != CommandToken::Kind::Marker || i + 1 >= tokens.size()) {
            ++i;
            continue;
        }
        const std::string& name = tokens[i + 1].Text;
        const char letter = name.empty() ? '\0' : Upper(name[0]);
        std::string* argument = nullptr;
        bool* flag = nullptr;
        const char* fullName = "";
        switch (letter) {
            case 'T': argument = &line.TypeLibPath, fullName = "tlb"; break;
            case 'L': argument = &line.HistoryPath, fullName = "leh"; break;
            case 'O': argument = &line.MessageFilePath, fullName = "out"; break;
            case 'S': argument = &line.DestinationPath, fullName = "saveas"; break;
            case 'M': argument = &line.ProviderText, fullName = "modifyhelp"; break;
            case 'N': flag = &line.New; break;
            case 'Q': flag = &line.Quiet; break;
            case 'A': flag = &line.Activate; break;
            case 'D': flag = &line.DontBackUpHelpString; break;
            case '?':
            case 'H': line.Help = true; return line;
            default: ++i; continue;
        }
        lastRead = i + 1;
        i += 2;
        if (flag) {
            *flag = true;
        } else if (i < tokens.size() && tokens[i].TokenKind == CommandToken::Kind::Plain) {
            *argument = tokens[i].Text;
            lastRead = i++;
        } else {
            argument->clear();  // the scan goes on at the option that follows, if any
        }
        if (argument && argument->empty() && line.MissingArgument.empty()) line.MissingArgument = fullName;
    }
    // An empty one (an unset variable, "-quiet=") would stand for a new library.
    if (!tokens.empty() && tokens.back().TokenKind == CommandToken::Kind::Plain && !tokens.back().Text.empty() &&
        (!lastRead || *lastRead < tokens.size() - 1))
        line.TypeLibPath = tokens.back().Text;
    return line;
}

}  // namespace zephrin::app
