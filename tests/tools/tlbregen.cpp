// tlbregen [OPTIONS] IN OUT: loads the library IN and regenerates it through
// the regeneration engine (TLBModifier) into OUT. Without options there are
// no requests. Options (each a request, in this order):
//   --reorder P0,P1,...     the new position of each type (ReorderStartingTypes)
//   --extra FILE[:FLAGS]    take in the library FILE (AddExtraLibrary; FLAGS
//                           default 2: every type now)
//   --replace NAME[=FILE:TYPE]  replace type NAME by TYPE of FILE, or remove
//                           it without '=' (RedirectType with replacement)
//   --redirect-lib FROM TO  references into the library FROM go to TO
//   --unresolved            regenerate in memory pointing unresolved types at
//                           placeholders, then save only if none is used
// On failure prints the error number and description and writes no file.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "regen/TLBModifier.h"
#include "typelib/TypeLibSupport.h"

using namespace zephrin;
using ole::ComPtr;

namespace {

ComPtr<tli::TypeLibInfo> Load(const std::string& path) {
    ComPtr<ole::ITypeLib> lib;
    const std::u16string p = ole::FromUtf8(path);
    CheckHr(ole::LoadTypeLibEx(p.c_str(), ole::REGKIND_NONE, lib.put()), p);
    return typelib_detail::TliTypeLibInfo(lib.get());
}

ComPtr<tli::TypeInfo> TypeNamed(tli::TypeLibInfo* lib, const std::string& name) {
    ComPtr<tli::TypeInfos> types;
    CheckHr(lib->get_TypeInfos(types.put()));
    ComPtr<tli::TypeInfo> type;
    CheckHr(types->NamedItem(ole::FromUtf8(name), type.put()), ole::FromUtf8(name));
    return type;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tlbregen [--reorder P0,P1,...] [--extra FILE[:FLAGS]] [--replace NAME[=FILE:TYPE]]\n"
                 "                [--redirect-lib FROM TO] [--unresolved] IN OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return Usage();
    const std::string in = args[args.size() - 2], out = args[args.size() - 1];
    args.resize(args.size() - 2);
    ole::RegisterFileServices();
    try {
        TLBModifier modifier;
        ComPtr<tli::TypeLibInfo> source = Load(in);
        modifier.StartingLib(source.get());
        bool unresolved = false;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto next = [&]() -> const std::string& {
                if (++i >= args.size()) throw ErrorRecord(kErrInvalidArgument, u"missing value after " + ole::FromUtf8(a));
                return args[i];
            };
            if (a == "--reorder") {
                std::vector<int32_t> order;
                const std::string& list = next();
                for (size_t at = 0; at < list.size();) {
                    size_t comma = list.find(',', at);
                    if (comma == std::string::npos) comma = list.size();
                    order.push_back(std::atoi(list.substr(at, comma - at).c_str()));
                    at = comma + 1;
                }
                modifier.ReorderStartingTypes(order);
            } else if (a == "--extra") {
                std::string file = next();
                int32_t flags = TLBModifier::kExtraAllTypes;
                if (size_t colon = file.rfind(':'); colon != std::string::npos && colon + 1 < file.size() &&
                                                    file.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
                    flags = std::atoi(file.c_str() + colon + 1);
                    file.resize(colon);
                }
                modifier.AddExtraLibrary(Load(file).get(), flags);
            } else if (a == "--replace") {
                const std::string& spec = next();
                const size_t eq = spec.find('=');
                ComPtr<tli::TypeInfo> sourceType = TypeNamed(source.get(), spec.substr(0, eq));
                ComPtr<tli::TypeInfo> destType;
                if (eq != std::string::npos) {
                    const std::string dest = spec.substr(eq + 1);
                    const size_t colon = dest.rfind(':');
                    if (colon == std::string::npos) return Usage();
                    destType = TypeNamed(Load(dest.substr(0, colon)).get(), dest.substr(colon + 1));
                }
                modifier.RedirectType(sourceType.get(), destType.get(), true);
            } else if (a == "--redirect-lib") {
                const std::string from = next();
                modifier.RedirectImportLib(Load(from).get(), Load(next()).get());
            } else if (a == "--unresolved") {
                unresolved = true;
            } else {
                return Usage();
            }
        }
        const std::u16string target = ole::FromUtf8(out);
        if (!unresolved) {
            modifier.GenerateDirect(target);
        } else {
            ComPtr<ole::ITypeLib> missing;
            ComPtr<ole::ITypeLib> edited = modifier.GenerateDirectFindUnresolved(missing);
            TLBModifier save;
            save.StartingLibDirect(edited.get());
            save.GenerateDirectTestUnresolved(missing.get(), target);
        }
    } catch (const ErrorRecord& e) {
        std::fprintf(stderr, "tlbregen: %s\n", e.what());
        return 1;
    }
    return 0;
}
