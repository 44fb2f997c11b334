// Renames that change only the letter case of a name: each is applied, and
// the library then holds the new spelling, for a function, a property's
// accessors, a dispinterface's property and parameters of both.
#include "changes/ChangesTestSupport.h"
#include "changes/kinds/RenameChange.h"
namespace changestest {
namespace {

// The names GetNames gives for member id of the interface half of type.
std::vector<std::u16string> NamesOf(ITypeLib* lib, const char16_t* type, MEMBERID id) {
    ComPtr<ITypeInfo> ti =
        modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<UINT>(TypeTarget(lib, type).TypeIndex));
    BSTR names[4] = {};
    UINT count = 0;
    EXPECT_OK(ti->GetNames(id, names, 4, &count));
    std::vector<std::u16string> out;
    for (UINT i = 0; i < count; ++i) {
        out.emplace_back(names[i]);
        SysFreeString(names[i]);
    }
    return out;
}

TEST(Probe2, CaseOnlyRenames) {
    using Names = std::vector<std::u16string>;
    ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    view.Attach(lib.get());
    auto ren = [&](ChangeTarget t, const char16_t* n) {
        auto r = modRenameChange::NewRenameChange(false);
        r->NewName(n);
        return ErrorOf([&] { r->Apply(view, nullptr, t, nullptr, 0); });
    };
    const ChangeTarget zoom = MemberTarget(lib.get(), u"IShape", u"Zoom");
    const ChangeTarget name = MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET);
    const ChangeTarget visible = MemberTarget(lib.get(), u"DShapeEvents", u"Visible", 0);
    EXPECT_EQ(ren(zoom, u"ZOOM"), 0);
    EXPECT_EQ(NamesOf(view.ReadView().get(), u"IShape", zoom.MemberId), (Names{u"ZOOM", u"factor"}));
    // A property's get and put are renamed together; the get names its parameter.
    EXPECT_EQ(ren(name, u"NAME"), 0);
    EXPECT_EQ(NamesOf(view.ReadView().get(), u"IShape", name.MemberId), (Names{u"NAME", u"name"}));
    EXPECT_EQ(ren(visible, u"VISIBLE"), 0);
    EXPECT_EQ(NamesOf(view.ReadView().get(), u"DShapeEvents", visible.MemberId), (Names{u"VISIBLE"}));
    // Parameters, found under the new spelling of their member.
    EXPECT_EQ(ren(ParamTarget(lib.get(), u"IShape", u"ZOOM", 0), u"Factor"), 0);
    EXPECT_EQ(NamesOf(view.ReadView().get(), u"IShape", zoom.MemberId), (Names{u"ZOOM", u"Factor"}));
    ChangeTarget nameParam = ParamTarget(lib.get(), u"IShape", u"NAME", 0);
    nameParam.InvokeKind = INVOKE_PROPERTYGET;
    EXPECT_EQ(ren(nameParam, u"NAME"), 0);
    EXPECT_EQ(NamesOf(view.ReadView().get(), u"IShape", name.MemberId), (Names{u"NAME", u"NAME"}));
}

}  // namespace
}  // namespace changestest
