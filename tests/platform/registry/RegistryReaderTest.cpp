// Reading registry exports and Wine registry files into the key tree.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RegistryTestSupport.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryApi.h"

using namespace reg;
using regtest::TempDir;
using regtest::WriteFile;

namespace {

std::string DefaultText(const Key* key) {
    const Value* v = key ? key->defaultValue() : nullptr;
    return v ? v->data : "<none>";
}

std::vector<std::string> SubkeyNames(const Key* key) {
    std::vector<std::string> names;
    for (size_t i = 0; key && i < key->subkeyCount(); ++i) names.push_back(key->subkey(i)->name());
    return names;
}

constexpr std::string_view kExport5 =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; a comment\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{11111111-0000-0000-0000-000000000001}\\1.0]\r\n"
    "@=\"Lib \\\"One\\\" \\\\ caf\xC3\xA9\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{11111111-0000-0000-0000-000000000001}\\1.0\\0\\win32]\r\n"
    "@=\"one.tlb\"\r\n"
    "\"Expand\"=hex(2):25,00,41,00,\\\r\n"
    "  25,00,00,00\r\n"
    "\"Short\"=str(2):\"%B%\"\r\n"
    "\"Number\"=dword:0000002a\r\n"
    "\"Gone\"=\"x\"\r\n"
    "\"Gone\"=-\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Classes\\TypeLib\\{11111111-0000-0000-0000-000000000001}\\1.0]\r\n"
    "@=\"User's description\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{22222222-0000-0000-0000-000000000002}\\1.0]\r\n"
    "@=\"deleted below\"\r\n"
    "[-HKEY_CLASSES_ROOT\\TypeLib\\{22222222-0000-0000-0000-000000000002}]\r\n"
    "[HKEY_CLASSES_ROOT\\Order\\beta]\r\n"
    "[HKEY_CLASSES_ROOT\\Order\\Alpha]\r\n"
    "[HKEY_CLASSES_ROOT\\Order\\gamma]\r\n";

}  // namespace

TEST(RegistryReader, ExportInUtf16ReadsEscapesContinuedHexDeletionsAndMergesTheClassesRoot) {
    TempDir dir;
    WriteFile(dir / "export.reg", regtest::Utf16LeWithBom(kExport5));
    Registry r;
    ASSERT_TRUE(r.loadFile(dir / "export.reg"));
    EXPECT_TRUE(r.errors().empty()) << r.errors().front().text();

    const Key& cr = r.classesRoot();
    const Key* lib = cr.open("typelib\\{11111111-0000-0000-0000-000000000001}");
    ASSERT_NE(lib, nullptr);
    // The user's classes win over the machine's; the machine's subkeys stay visible.
    EXPECT_EQ(DefaultText(lib->open("1.0")), "User's description");
    EXPECT_EQ(DefaultText(r.root(Hive::LocalMachine).open("Software\\Classes\\TypeLib\\{11111111-0000-0000-0000-000000000001}\\1.0")),
              "Lib \"One\" \\ caf\xC3\xA9");
    const Key* win32 = lib->open("1.0\\0\\WIN32");
    ASSERT_NE(win32, nullptr);
    EXPECT_EQ(DefaultText(win32), "one.tlb");
    const Value* expand = win32->findValue("EXPAND");
    ASSERT_NE(expand, nullptr);
    EXPECT_EQ(expand->type, REG_EXPAND_SZ);
    EXPECT_EQ(expand->data, "%A%");
    EXPECT_EQ(win32->findValue("short")->type, REG_EXPAND_SZ);
    EXPECT_EQ(win32->findValue("Number")->type, REG_DWORD);
    EXPECT_EQ(win32->findValue("Gone"), nullptr);

    EXPECT_EQ(cr.open("TypeLib\\{22222222-0000-0000-0000-000000000002}"), nullptr);
    EXPECT_EQ(SubkeyNames(cr.open("Order")), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
}

TEST(RegistryReader, OldExportInSingleByteTextReadsHexStringsAsBytes) {
    TempDir dir;
    WriteFile(dir / "old.reg",
              "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Thing]\n@=hex(2):43,3a,5c,78,00\n\"Latin\"=\"caf\xE9\"\n");
    Registry r;
    ASSERT_TRUE(r.loadFile(dir / "old.reg"));
    EXPECT_EQ(DefaultText(r.classesRoot().open("thing")), "C:\\x");
    EXPECT_EQ(r.classesRoot().open("thing")->findValue("Latin")->data, "caf\xC3\xA9");
}

TEST(RegistryReader, WineFilesReadHeaderEscapedNamesTimestampsAndUserOverMachine) {
    TempDir dir;
    WriteFile(dir / "system.reg",
              "WINE REGISTRY Version 2\n"
              ";; All keys relative to REGISTRY\\\\Machine\n"
              "\n#arch=win32\n\n"
              "[Software\\\\Classes\\\\CLSID\\\\{33333333-0000-0000-0000-000000000003}\\\\InprocServer32] 1796575640\n"
              "#time=1dd85a175ef5e7c\n"
              "@=\"C:\\\\windows\\\\system32\\\\x.dll\"\n"
              "\"ThreadingModel\"=\"Both\"\n"
              "\n"
              "[Software\\\\Classes\\\\Caf\\x00e9\\\\Sub] 1796575640\n"
              "@=str(2):\"%SystemRoot%\\\\a\\tb\"\n"
              "\"Text\"=\"line\\nnext \\\"q\\\"\"\n"
              "[Software\\\\Classes\\\\Shared] 1\n"
              "@=\"machine\"\n"
              "\"MachineOnly\"=\"m\"\n");
    WriteFile(dir / "user.reg",
              "WINE REGISTRY Version 2\n"
              ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
              "[Software\\\\Classes\\\\Shared] 1\n"
              "@=\"user\"\n");
    Registry r;
    ASSERT_TRUE(r.loadPrefix(dir.path()));
    EXPECT_TRUE(r.errors().empty()) << r.errors().front().text();

    const Key& cr = r.classesRoot();
    const Key* inproc = cr.open("CLSID\\{33333333-0000-0000-0000-000000000003}\\InprocServer32");
    EXPECT_EQ(DefaultText(inproc), "C:\\windows\\system32\\x.dll");
    EXPECT_EQ(inproc->findValue("threadingmodel")->data, "Both");
    const Key* sub = cr.open("CAF\xC3\xA9\\sub");  // non-ASCII letters match as written
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->defaultValue()->type, REG_EXPAND_SZ);
    EXPECT_EQ(sub->defaultValue()->data, "%SystemRoot%\\a\tb");
    EXPECT_EQ(sub->findValue("Text")->data, "line\nnext \"q\"");
    EXPECT_EQ(DefaultText(cr.open("Shared")), "user");
    EXPECT_EQ(cr.open("Shared")->findValue("MachineOnly")->data, "m");
}

TEST(RegistryReader, BadLinesAreReportedWithFileAndLineAndTheRestIsRead) {
    TempDir dir;
    WriteFile(dir / "broken.reg",
              "REGEDIT4\n"
              "\"Orphan\"=\"no key yet\"\n"                 // 2
              "[HKEY_CLASSES_ROOT\\Good]\n"
              "@=\"ok\"\n"
              "\"Unclosed\"=\"abc\n"                         // 5
              "\"Bad\"=hex:4g,00\n"                          // 6
              "\"Type\"=qword:1\n"                           // 7
              "[HKEY_NOWHERE\\X]\n"                          // 8
              "@=\"ignored with its key\"\n"
              "[HKEY_CLASSES_ROOT\\Unterminated\n"           // 10
              "garbage\n"                                    // 11
              "[HKEY_CLASSES_ROOT\\Good\\Later]\n"
              "@=\"still read\"\n");
    WriteFile(dir / "notes.txt", "just some text\n");
    Registry r;
    EXPECT_TRUE(r.loadFile(dir / "broken.reg"));
    EXPECT_FALSE(r.loadFile(dir / "notes.txt"));
    EXPECT_FALSE(r.loadFile(dir / "missing.reg"));

    std::vector<int> lines;
    for (const ParseError& e : r.errors()) {
        if (e.file == (dir / "broken.reg").string()) lines.push_back(e.line);
    }
    EXPECT_EQ(lines, (std::vector<int>{2, 5, 6, 7, 8, 10, 11}));
    ASSERT_EQ(r.errors().size(), 9u);
    EXPECT_EQ(r.errors()[7].text(), (dir / "notes.txt").string() +
                                        ":1: not a registry file: the first line is \"just some text\"");
    EXPECT_EQ(r.errors()[8].line, 0);
    EXPECT_EQ(DefaultText(r.classesRoot().open("Good")), "ok");
    EXPECT_EQ(DefaultText(r.classesRoot().open("Good\\Later")), "still read");
}

TEST(RegistryReader, VariablesInALoopOrTooLongStayUnexpandedAndAreReported) {
    const std::string half(20000, 'h');
    std::string self;  // 100 references to itself: 333 bytes that once expanded to 706 MB
    for (int i = 0; i < 100; ++i) self += "%Self%";
    Registry r;
    r.loadText("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
               "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1\n"
               "@=\"not a variable\"\n\"Self\"=str(2):\"" + self + "\"\n"
               "\"Ping\"=str(2):\"%Pong%-\"\n\"Pong\"=str(2):\"%PING%+\"\n\"Uses\"=str(2):\"%Ping%!\"\n"
               "\"Half\"=\"" + half + "\"\n\"Whole\"=str(2):\"%Half%%Half%\"\n"
               "\"Lib\"=str(2):\"%windir%\\\\lib\"\n"
               "[Software\\\\Classes\\\\Paths] 1\n"
               "\"Self\"=str(2):\"C:\\\\%Self%%%\"\n\"Uses\"=str(2):\"C:\\\\%Uses%\"\n\"Lib\"=str(2):\"%Lib%\\\\a.tlb\"\n"
               "\"Half\"=str(2):\"C:\\\\%Half%\"\n\"Twice\"=str(2):\"C:\\\\%Half%%Half%\"\n",
               "/nowhere/system.reg");
    const Key* paths = r.classesRoot().open("Paths");
    ASSERT_NE(paths, nullptr);
    auto mapped = [&](const char* name) { return r.mapPath(*paths->findValue(name)); };
    EXPECT_EQ(mapped("Self"), "C:\\%Self%%%");
    EXPECT_EQ(mapped("Uses"), "C:\\%Ping%!");
    EXPECT_EQ(mapped("Lib"), "C:\\windows\\lib\\a.tlb");
    EXPECT_EQ(mapped("Half"), "C:\\" + half);
    EXPECT_EQ(mapped("Twice"), "C:\\%Half%%Half%");

    std::vector<std::string> errors;
    for (const ParseError& e : r.errors()) errors.push_back(e.message);
    const std::string tooLong = "expands to more than 32767 bytes";
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_EQ(errors[0], "the variable %Ping% refers to itself: it is not expanded");
    EXPECT_EQ(errors[1], "the variable %Pong% refers to itself: it is not expanded");
    EXPECT_EQ(errors[2], "the variable %Self% refers to itself: it is not expanded");
    EXPECT_EQ(errors[3].rfind("the variable %Whole% " + tooLong, 0), 0u) << errors[3];
    EXPECT_EQ(errors[4], "the value \"Twice\" of HKEY_LOCAL_MACHINE\\Software\\Classes\\Paths " + tooLong +
                             ": it is used unexpanded");
    EXPECT_EQ(r.errors()[0].file, "/nowhere/system.reg");
    // Reading more files reports them once.
    r.loadText("REGEDIT4\n", "/nowhere/more.reg");
    EXPECT_EQ(r.errors().size(), 5u);
}

TEST(RegistryReader, TheReadFunctionsEnumerateCountAndReturnPlatformCodes) {
    auto r = std::make_shared<Registry>();
    r->loadText("\xEF\xBB\xBFREGEDIT4\n[HKEY_CLASSES_ROOT\\Lib\\b]\n@=\"bee\"\n[HKEY_CLASSES_ROOT\\Lib\\A]\n"
                "[HKEY_CLASSES_ROOT\\Lib\\Longer-Name]\n[HKEY_CLASSES_ROOT\\Lib\\Longer-Name\\x]\n",
                "/nowhere/test.reg");
    SetDefaultRegistry(r);

    HKEY lib = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "LIB", 0, 0x19, &lib), ERROR_SUCCESS);
    DWORD count = 0, longest = 0, maxValue = 0;
    ASSERT_EQ(RegQueryInfoKeyA(lib, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                               &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(longest, 11u);
    std::vector<std::string> names;
    char name[12];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LONG rc = RegEnumKeyExA(lib, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(cch, std::string(name).size());
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "Longer-Name"}));
    DWORD tiny = 11;  // "Longer-Name" needs 12 with its NUL
    EXPECT_EQ(RegEnumKeyExA(lib, 2, name, &tiny, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    LONG size = 0;
    EXPECT_EQ(RegQueryValueA(lib, "B", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4);
    char small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueA(lib, "b", small, &size), ERROR_MORE_DATA);
    char text[8];
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(lib, "b", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "bee");
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(lib, "A", text, &size), ERROR_SUCCESS);  // no default value: ""
    EXPECT_EQ(size, 1);
    EXPECT_EQ(RegQueryValueA(lib, "missing", text, &size), ERROR_FILE_NOT_FOUND);

    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExA(lib, "A\\deeper", 0, 0x19, &missing), ERROR_FILE_NOT_FOUND);
    // An open key keeps its registry even after the default one is replaced.
    SetDefaultRegistry(std::make_shared<Registry>());
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(lib, "Longer-Name\\X", 0, 0x19, &again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(lib), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Lib", 0, 0x19, &lib), ERROR_FILE_NOT_FOUND);
    SetDefaultRegistry(nullptr);
}

TEST(RegistryReader, TheEnvironmentNamesFilesAndPrefixFolders) {
    TempDir dir;
    WriteFile(dir / "a.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\FromA]\n");
    WriteFile(dir / "prefix" / "system.reg", "WINE REGISTRY Version 2\n[Software\\\\Classes\\\\FromPrefix] 1\n");
    std::string list = (dir / "a.reg").string() + "::" + (dir / "prefix").string() + ":" + (dir / "none.reg").string();
    const char* old = std::getenv("ZEPHRIN_REGISTRY");
    std::string saved = old ? old : "";
    setenv("ZEPHRIN_REGISTRY", list.c_str(), 1);
    auto r = Registry::FromEnvironment();
    if (old) setenv("ZEPHRIN_REGISTRY", saved.c_str(), 1);
    else unsetenv("ZEPHRIN_REGISTRY");

    EXPECT_NE(r->classesRoot().findSubkey("FromA"), nullptr);
    EXPECT_NE(r->classesRoot().findSubkey("FromPrefix"), nullptr);
    ASSERT_EQ(r->errors().size(), 1u);
    EXPECT_EQ(r->errors()[0].file, (dir / "none.reg").string());
}
