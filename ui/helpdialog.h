#ifndef STROBIX_HELPDIALOG_H
#define STROBIX_HELPDIALOG_H

#include <QDialog>

class QScrollArea;

namespace Strobix {

// The bilingual help text in a scrollable label; closing only hides it.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent);

    void setVisible(bool visible) override;

    static const char helpText[];

private:
    // Gets its label at the first show: laying out the rich text loads the
    // fonts, which would otherwise delay the main window's first frame.
    QScrollArea *scrollArea;
};

} // namespace Strobix

#endif
