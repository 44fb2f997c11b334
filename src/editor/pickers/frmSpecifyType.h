// The specify-type dialog: asks for a type or a library for one purpose (a
// member's or parameter's type, a base or implemented interface, an alias
// target, a redirection or import) through a type picker set up for it.
// Each entry runs one dialog and hands back what was picked; nothing is
// applied here.
#pragma once

#include "dialogs/ModalDialog.h"
#include "dialogs/modRefInfo.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/CustomVarTypeInfo.h"

class QLabel;

namespace zephrin::editor {

class TypePicker;

// Accepted tells OK from Cancel; after OK, Type is the picked type, or null
// where "No base interface" was chosen.
struct SpecifiedType {
    bool Accepted = false;
    ole::ComPtr<CustomVarTypeInfo> Type;
};

class frmSpecifyType final : public dialogs::ModalDialog {
    Q_OBJECT

public:
    using LibraryCollection = dialogs::LibraryCollection;

    static SpecifiedType GetType(QWidget* owner, int32_t typeUsage, int32_t constraints, ole::ITypeLib* currentTypeLib,
                                 LibraryCollection& otherLibs, tli::VarTypeInfo* vtInfo);
    // paramFlags and fOptionalVariant are read, and paramFlags written on OK only.
    static SpecifiedType GetParamType(QWidget* owner, int32_t typeUsage, int32_t constraints, int32_t paramUsage,
                                      ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs,
                                      tli::VarTypeInfo* vtInfo, int32_t& paramFlags, bool& fOptionalVariant);
    // A type of the kind of vtInfo's type (an interface for a dual).
    static SpecifiedType GetRedirectType(QWidget* owner, ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs,
                                         tli::VarTypeInfo* vtInfo);
    static SpecifiedType GetImportType(QWidget* owner, ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs);
    // A library, given as its first type; the library of vtInfoInReplaceLib is not offered.
    static SpecifiedType GetRedirectLibrary(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                            LibraryCollection& otherLibs, tli::VarTypeInfo* vtInfoInReplaceLib);
    static SpecifiedType GetImportLibrary(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                          LibraryCollection& otherLibs);

    // The usage and redirection kind for redirecting the type of vtInfo.
    static void RedirectUsage(tli::VarTypeInfo* vtInfo, int32_t& usage, int32_t& redirectionType);

    explicit frmSpecifyType(QWidget* owner);
    // Sets the picker up and starts its session; the caption follows the usage.
    void Start(int32_t usage, int32_t constraints, int32_t paramUsage, int32_t redirectionType,
               ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs, tli::VarTypeInfo* current,
               int32_t paramFlags, bool variantOnly);

    TypePicker* Picker() const { return picker_; }
    QLabel* Header() const { return lblHeader_; }
    QPushButton* LibrariesButton() const { return cmdRefs_; }
    QPushButton* Ok() const { return OkButton(); }
    // Why OK is disabled, under the picker; empty while it is enabled.
    QLabel* Reason() const { return lblReason_; }

private:
    static SpecifiedType Run(frmSpecifyType& dialog);
    void UpdateOk();
    // Why OK can't be pressed now, or nothing.
    QString WhyNoOk() const;
    // Tells the reasons on the tree (which mostly has the focus) and on OK.
    void TellWhy();
    void LeafDoubleClicked();

    QLabel* lblHeader_ = nullptr;
    QLabel* lblReason_ = nullptr;
    QString whyNoOk_;  // why OK is disabled, or empty
    QString mismatch_;  // why the header is marked, or nothing
    TypePicker* picker_ = nullptr;
    QPushButton* cmdRefs_ = nullptr;
};

}  // namespace zephrin::editor
