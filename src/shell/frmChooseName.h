// The choose-name dialog: when a replayed history item names something the
// library doesn't have, the user picks a replacement among the candidates of
// the same sort, or cancels. One object serves any number of requests, each
// shown modally over the owner (the history window).
#pragma once

#include <optional>

#include "changes/history/INameChooser.h"
#include "dialogs/ModalDialog.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace zephrin::shell {

class frmChooseName final : public dialogs::ModalDialog, public INameChooser {
    Q_OBJECT

public:
    explicit frmChooseName(QWidget* owner);

    // Shows the request's message and candidates (none: no window, nothing
    // chosen) and returns the index of the candidate chosen with OK.
    std::optional<size_t> ChooseName(const ChooseNameRequest& request) override;

    // The controls, for tests.
    QLabel* Message() const { return lblMessage_; }
    QComboBox* Names() const { return cmbNames_; }
    QPushButton* OkButton() const { return cmdOK_; }
    QPushButton* CancelButton() const { return cmdCancel_; }

private:
    void Fill(const ChooseNameRequest& request);

    QLabel* lblMessage_ = nullptr;
    QComboBox* cmbNames_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace zephrin::shell
