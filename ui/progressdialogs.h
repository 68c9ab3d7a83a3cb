#ifndef STROBIX_PROGRESSDIALOGS_H
#define STROBIX_PROGRESSDIALOGS_H

class QProgressDialog;

namespace Strobix {

// Shows a progress dialog at once and for good. A dialog that is merely show()n
// still counts as "not shown yet" for QProgressDialog: a later value equal to the
// minimum (a second progress bar starting at 0 %) arms its minimum-duration
// timer, which shows the dialog again after we hid it, window-modal over the
// outcome box, and so locks the window.
void showProgressDialogNow(QProgressDialog *dialog);

} // namespace Strobix

#endif
