#include "app/application.h"

#include <QtGui/qtguiglobal.h>
#if QT_CONFIG(opengl)
#include <QOpenGLContext>
#endif

namespace Strobix {

namespace {

const char glIntegration[] = "QT_XCB_GL_INTEGRATION";
bool glIntegrationSetHere = false;

// The window draws in software only; loading the OpenGL stack (a software
// renderer where no GPU driver is) took longer than everything else before
// the first frame. A setting of the user's own is kept.
int &withoutOpenGl(int &argc)
{
    glIntegrationSetHere = !qEnvironmentVariableIsSet(glIntegration);
    if (glIntegrationSetHere)
        qputenv(glIntegration, "none");
    return argc;
}

} // namespace

Application::Application(int &argc, char **argv)
    : QApplication(withoutOpenGl(argc), argv)
{
    if (!glIntegrationSetHere)
        return;
#if QT_CONFIG(opengl)
    // The platform reads the setting when OpenGL is first asked about, which
    // would otherwise be after it is gone: ask now.
    QOpenGLContext::supportsThreadedOpenGL();
#endif
    // dfu-util and the browser that the homepage button starts get the
    // user's environment, not ours.
    qunsetenv(glIntegration);
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
