// The command line as the program reads it, case by case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

using zephrin::app::CommandLine;
using zephrin::app::ReadCommandLine;

// The options read, in a fixed order; empty ones are left out.
std::string Summary(const CommandLine& c) {
    if (c.Help) return "help";
    std::string s;
    const auto add = [&](const char* name, const std::string& value) {
        if (!value.empty()) s += std::string(s.empty() ? "" : " ") + name + "=" + value;
    };
    add("tlb", c.TypeLibPath);
    add("leh", c.HistoryPath);
    add("out", c.MessageFilePath);
    add("saveas", c.DestinationPath);
    add("modifyhelp", c.ProviderText);
    std::string flags = std::string(c.New ? "N" : "") + (c.Quiet ? "Q" : "") + (c.Activate ? "A" : "") +
                        (c.DontBackUpHelpString ? "D" : "");
    add("flags", flags);
    add("missing", c.MissingArgument);
    return s;
}

struct Case {
    std::vector<std::string> args;
    std::string expected;
};

// Only "/out" and "/srv" exist as files or folders here.
bool Exists(const std::string& path) { return path == "/out" || path == "/srv"; }

const Case kCases[] = {
    // One option, every way of writing it.
    {{"-t", "x"}, "tlb=x"},
    {{"/TLB", "x"}, "tlb=x"},
    {{"--tlb=x"}, "tlb=x"},
    {{"-type", "x"}, "tlb=x"},
    {{"/tlb=x"}, "tlb=x"},
    {{"-TLB=x", "-LEH=e.leh", "-Q", "-O", "m.txt", "-S", "o.tlb", "-M", "{x}", "-N", "-A", "-D"},
     "tlb=x leh=e.leh out=m.txt saveas=o.tlb modifyhelp={x} flags=NQAD"},
    // Help in any position and form ends the scan.
    {{"-q", "-leh", "e.leh", "/?"}, "help"},
    {{"-tlb", "-h"}, "help"},
    {{"a.tlb", "--help"}, "help"},
    {{"-Hilfe", "-q"}, "help"},
    {{"-?"}, "help"},
    // The trailing token.
    {{"a.tlb"}, "tlb=a.tlb"},
    {{"-tlb", "a.tlb", "b.tlb"}, "tlb=b.tlb"},
    {{"-leh", "e.leh", "-q", "a.tlb"}, "tlb=a.tlb leh=e.leh flags=Q"},
    {{"-tlb", "a.tlb", "-q"}, "tlb=a.tlb flags=Q"},
    {{"-"}, "tlb=-"},
    // Unknown letters are ignored, and are never taken as a file name.
    {{"-zap", "-q"}, "flags=Q"},
    {{"-x", "a.tlb"}, "tlb=a.tlb"},
    {{"-q", "-zzz"}, "flags=Q"},
    // Paths that begin with "/".
    {{"-tlb", "/home/me/a.tlb"}, "tlb=/home/me/a.tlb"},
    {{"-q", "/home/me/a.tlb"}, "tlb=/home/me/a.tlb flags=Q"},
    {{"/tlb=/home/me/a.tlb"}, "tlb=/home/me/a.tlb"},
    {{"-s", "/out"}, "saveas=/out"},
    {{"-leh", "e.leh", "/srv"}, "tlb=/srv leh=e.leh"},
    {{"-leh", "e.leh", "/out", "m.txt"}, "tlb=m.txt leh=e.leh"},
    {{"-leh", "e.leh", "/o", "m.txt"}, "leh=e.leh out=m.txt"},
    // After "/" only a full name or a first letter is an option; else a path.
    {{"-saveas", "/zout.tlb"}, "saveas=/zout.tlb"},
    {{"-tlb", "/type", "/Q"}, "tlb=/type flags=Q"},
    {{"-leh", "e.leh", "/out.tlb"}, "tlb=/out.tlb leh=e.leh"},
    {{"/SaveAs=o.tlb", "/hilfe"}, "tlb=/hilfe saveas=o.tlb"},
    {{"/h"}, "help"},
    // An argument that is missing or empty is named, and the next option is still read.
    {{"-o"}, "missing=out"},
    {{"-leh", "e.leh", "-saveas"}, "leh=e.leh missing=saveas"},
    {{"-saveas", "-quiet"}, "flags=Q missing=saveas"},
    {{"-s", "x.tlb", "-s"}, "missing=saveas"},
    {{"-saveas=", "-m", ""}, "missing=saveas"},
    {{"-t", "a", "-t", "b"}, "tlb=b"},
    // An empty trailing argument (an unset variable) names no library.
    {{"-tlb", "a.tlb", "-s", "o.tlb", ""}, "tlb=a.tlb saveas=o.tlb"},
    {{"-tlb", "a.tlb", "-q="}, "tlb=a.tlb flags=Q"},
};

TEST(CommandLine, ReadsEveryCaseOfTheTable) {
    for (const Case& c : kCases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        EXPECT_EQ(Summary(ReadCommandLine(c.args, Exists)), c.expected) << line;
    }
}

}  // namespace
