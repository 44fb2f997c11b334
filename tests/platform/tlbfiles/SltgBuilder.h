// Test-only writer of SLTG type library images. The product only reads SLTG;
// the tests need images of known content to read, so this builds them from a
// library description in the plain data model.
//
// What it can express (what SLTG holds): library name, GUID, LCID, SYSKIND,
// version, flags, doc string, help file and context; types of every kind with
// GUID, flags, version, doc string (compressed), help context, size,
// alignment and vtable size; functions with member id, invoke kind, calling
// convention, parameters (names, types, in/out/lcid/retval/optional flags),
// return type, vtable offset, FUNCFLAGS, doc string and help context;
// variables with member id, kind, type, offset or constant value, VARFLAGS,
// doc string and help context; implemented types; aliases. References go to
// types of the library itself or, by index, to types of imported libraries
// (RefKind::Imported with byGuid false); a RefKind::Missing reference is
// written with an index past the type's reference table. Anything else (custom data, help
// string contexts, default values, DLL entries) throws std::invalid_argument.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"

namespace ole::sltgtest {

struct BuildOptions {
    // Store the types of named parameters apart (name word without its low
    // bit, then the offset of the type words) instead of inline. The format
    // allows both; the platform misreads the former, so goldens don't use it.
    bool namedParamTypesApart = false;
    // Write what older compilers store: a plain dispinterface's implemented-
    // type record holds its variable count where the reference index would be,
    // with 0x4002 after it (its base is the library's IDispatch, which another
    // type must reference), and its functions' vtable words are 0xFFFF; other
    // functions' vtable words have their low bit set; read-only is bit 0x80 of
    // a variable record's second byte, with a flags word only for other flags.
    bool olderForms = false;
};

std::vector<std::byte> BuildSltg(const LibraryData& lib, const BuildOptions& options = {});

// Encodes text with a help-string decoding tree built for exactly the given
// texts; returns {tree, encoded texts}. Exposed for the decoder's tests.
struct HelpStringTable {
    std::vector<std::byte> tree;
    std::vector<std::vector<std::byte>> encoded;
};
HelpStringTable CompressHelpStrings(const std::vector<std::string>& texts);

}  // namespace ole::sltgtest
