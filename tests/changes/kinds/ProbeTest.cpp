#include "changes/ChangesTestSupport.h"
#include "changes/kinds/RenameChange.h"
namespace changestest {
namespace {
TEST(Probe2, CaseOnlyRenames) {
    ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    view.Attach(lib.get());
    auto ren = [&](ChangeTarget t, const char16_t* n) {
        auto r = modRenameChange::NewRenameChange(false);
        r->NewName(n);
        return ErrorOf([&] { r->Apply(view, nullptr, t, nullptr, 0); });
    };
    std::cout << "Zoom->ZOOM " << ren(MemberTarget(lib.get(), u"IShape", u"Zoom"), u"ZOOM") << "\n";
    std::cout << "Name->NAME " << ren(MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET), u"NAME") << "\n";
    std::cout << "Visible->VISIBLE " << ren(MemberTarget(lib.get(), u"DShapeEvents", u"Visible", 0), u"VISIBLE") << "\n";
    std::cout << "factor->Factor " << ren(ParamTarget(lib.get(), u"IShape", u"ZOOM", 0), u"Factor") << "\n";
    std::cout << "Name.put param->name " << ren(ParamTarget(lib.get(), u"IShape", u"NAME", 0), u"NAME") << "\n";
}
}
}
