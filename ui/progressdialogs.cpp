#include "ui/progressdialogs.h"

#include <QMetaObject>
#include <QProgressDialog>

namespace Strobix {

void showProgressDialogNow(QProgressDialog *dialog)
{
    dialog->show();
    // forceShow() stops the timer and marks the dialog as shown; it is a
    // protected slot, reached through the meta-object.
    QMetaObject::invokeMethod(dialog, "forceShow", Qt::DirectConnection);
}

} // namespace Strobix
