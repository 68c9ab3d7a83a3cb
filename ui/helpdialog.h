#ifndef STROBIX_HELPDIALOG_H
#define STROBIX_HELPDIALOG_H

#include <QDialog>

namespace Strobix {

// The bilingual help text in a scrollable label; closing only hides it.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent);

    static const char helpText[];
};

} // namespace Strobix

#endif
