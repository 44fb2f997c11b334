#include "dialogs/OrderListDialog.h"

#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

QString OrderListDialog::RowText(int row) const { return ToQString(model_.RowAt(row).Text); }

}  // namespace zephrin::dialogs
