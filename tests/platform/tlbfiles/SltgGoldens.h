// Descriptions of the SLTG golden libraries under tests/data/sltg: the tests
// build each image with the SLTG builder and expect the reader to give back
// the same description.
#pragma once

#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "SltgBuilder.h"

namespace ole::sltgtest {

struct Golden {
    std::string name;  // file name without extension
    LibraryData data;
    BuildOptions options{};
};

// The golden libraries: content that the platform reads as written.
std::vector<Golden> Goldens();
// The same libraries with what the platform's reader drops (help strings of
// types and members, member help contexts, union members, user-defined record
// fields, dispinterface functions, unnamed parameters stored apart), and LCIDs
// of a neutral sub-language, which it keeps; for tests of our reader only.
std::vector<Golden> FullDescriptions();
// A library of what older compilers store that the reference dumper doesn't
// show (help strings of types and members), a dual whose stored flags lack
// FDISPATCHABLE, and an LCID with a sub-language, which reads as 0.
Golden OlderForm();
// A library whose references lie past their types' reference tables.
Golden NowhereForm();
// Plain dispinterfaces, read-only variables and vtable words in the forms
// older compilers store (BuildOptions::olderForms).
Golden DispatchForm();

}  // namespace ole::sltgtest

namespace ole::sltgtest {
// A full text rendering of a library description, references shown by target
// (so that two descriptions with different HREFTYPE numbering compare equal).
std::string Describe(const LibraryData& lib);
}  // namespace ole::sltgtest
