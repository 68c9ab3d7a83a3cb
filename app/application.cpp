#include "app/application.h"

namespace Strobix {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const QString &text) {
        // Keep the first text: it names the failure that ended the run.
        if (failure.isNull())
            failure = text;
        exit(-1);
    }
    return false;
}

QString Application::takeFailureText()
{
    QString text = failure;
    failure = QString();
    return text;
}

} // namespace Strobix
