#include "foundation/ErrorRecord.h"

#include <cstdio>
#include <new>

#include "platform/automation/BStr.h"

namespace zephrin {

ErrorRecord::ErrorRecord(int32_t number, std::u16string description, std::u16string source,
                         std::u16string helpFile, int32_t helpContext)
    : Number(number),
      Source(std::move(source)),
      Description(std::move(description)),
      HelpFile(std::move(helpFile)),
      HelpContext(helpContext) {
    if (Description.empty()) Description = StandardErrorDescription(number);
}

const char* ErrorRecord::what() const noexcept {
    try {
        char head[40];
        if (Number < 0)
            std::snprintf(head, sizeof head, "Error 0x%08X", static_cast<unsigned>(Number));
        else
            std::snprintf(head, sizeof head, "Error %d", static_cast<int>(Number));
        what_ = head;
        if (!Description.empty()) {
            what_ += ": ";
            what_ += ole::ToUtf8(Description);
        }
        return what_.c_str();
    } catch (...) {
        return "Error (no memory for its description)";
    }
}

std::u16string_view StandardErrorDescription(int32_t number) {
    switch (number) {
        case kErrInvalidArgument: return u"Invalid procedure call or argument";
        case kErrOverflow: return u"Overflow";
        case kErrOutOfMemory: return u"Out of memory";
        case kErrSubscriptOutOfRange: return u"Subscript out of range";
        case kErrTypeMismatch: return u"Type mismatch";
        case kErrInternal: return u"Internal error";
        case kErrFileNotFound: return u"File not found";
        case kErrInputPastEnd: return u"Input past end of file";
        case kErrPathFileAccess: return u"Path/File access error";
        default: return {};
    }
}

std::u16string_view ErrorNumberText(int32_t number) {
    switch (number) {
        case ole::TYPE_E_ELEMENTNOTFOUND: return u"Element not found.";
        case ole::TYPE_E_CANTLOADLIBRARY: return u"Error loading type library.";
        case ole::TYPE_E_IOERROR: return u"The file could not be written.";
        case ole::TYPE_E_CANTCREATETMPFILE: return u"No temporary file could be created beside the file.";
        case ole::TYPE_E_NAMECONFLICT:
            return u"Name conflict: the name is already used by another type or member of the library.";
        case ole::TYPE_E_AMBIGUOUSNAME: return u"Ambiguous name: another member of the type has that name.";
        case ole::TYPE_E_SIZETOOBIG:
            return u"Size too big: a type is larger than a library can hold, or its types nest too deeply.";
        case ole::TYPE_E_DUPLICATEID:
            return u"Duplicate ID: another type of the library has that GUID, or another member that member ID.";
        case ole::TYPE_E_CIRCULARTYPE:
            return u"Circular type: a type would be defined in terms of itself (an alias of an alias of it, a base "
                   u"of its base, or a record that holds itself).";
        case ole::TYPE_E_TYPEMISMATCH: return u"Type mismatch: the value does not fit the type it is given for.";
        case ole::TYPE_E_WRONGTYPEKIND: return u"Wrong type kind: the type is not of a kind that can be used here.";
        case ole::TYPE_E_BADMODULEKIND: return u"Bad module kind: a module can't hold this kind of member.";
        case ole::TYPE_E_INCONSISTENTPROPFUNCS:
            return u"Inconsistent property functions: the property's get, let and set don't agree.";
        case ole::TYPE_E_UNDEFINEDTYPE: return u"Undefined type: a type the library uses can't be found.";
        case ole::TYPE_E_INVALIDSTATE: return u"Invalid state: the type library or type can't do this now.";
        case ole::DISP_E_BADVARTYPE:
            return u"Bad variable type: the value's type can't be used here, or a library file can't hold the value "
                   u"(a Decimal only as a whole number from 0 to 18446744073709551615).";
        case ole::E_INVALIDARG:
            return u"Invalid argument: a name is empty or longer than 255 bytes, or a value is out of range.";
        case ole::E_FAIL: return u"Unspecified error.";
        case ole::E_NOTIMPL: return u"Not implemented.";
        case ole::E_NOINTERFACE: return u"No such interface supported.";
        case ole::E_OUTOFMEMORY: return u"Out of memory.";
        default: return StandardErrorDescription(number);
    }
}

std::u16string ErrorReportText(const ErrorRecord& error) {
    if (!error.Description.empty()) return error.Description;
    std::u16string text(ErrorNumberText(error.Number));
    if (text.empty()) text = ole::FromUtf8(error.what());
    // The code, which says most to whoever knows the platform.
    if (error.Number < 0 && text.find(u"0x") == std::u16string::npos) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(error.Number));
        text += u" (" + ole::FromUtf8(code) + u")";
    }
    if (!error.Source.empty()) text += u" (" + error.Source + u")";
    return text;
}

void RaiseError(int32_t number, std::u16string description, std::u16string source) {
    throw ErrorRecord(number, std::move(description), std::move(source));
}

ole::HRESULT CheckHr(ole::HRESULT hr, std::u16string_view source) {
    if (ole::FAILED(hr)) throw ErrorRecord(hr, {}, std::u16string(source));
    return hr;
}

ErrorRecord CurrentErrorRecord() {
    if (!std::current_exception()) return ErrorRecord(kErrInternal);
    try {
        throw;
    } catch (const ErrorRecord& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return ErrorRecord(kErrOutOfMemory);
    } catch (const std::exception& e) {
        return ErrorRecord(kErrInternal, ole::FromUtf8(e.what()));
    } catch (...) {
        return ErrorRecord(kErrInternal);
    }
}

}  // namespace zephrin
