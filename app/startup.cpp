#include "app/startup.h"

#include "app/application.h"
#include "app/globals.h"
#include "ui/updatewidget.h"

#include <QDir>
#include <QFontDatabase>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QThread>

#include <memory>

namespace Strobix {

void drawWithoutOpenGl()
{
    // Loading it (a software renderer where no GPU driver is) took longer
    // than everything else before the first frame.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QString::fromUtf8(organisationName));
    QCoreApplication::setOrganizationDomain(QString::fromUtf8(organisationDomain));
    QCoreApplication::setApplicationName(QString::fromUtf8(applicationName));
}

void useSystemProxy()
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void prepareDataFolder()
{
    dataFolder = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QDir dir(dataFolder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    if (!dir.exists(QStringLiteral("kelvio")))
        dir.mkdir(QStringLiteral("kelvio"));
    dataFolder += QStringLiteral("/kelvio/");
}

static void showFailure(const QString &text)
{
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), text,
                          QMessageBox::Ok, QMessageBox::NoButton);
}

int runMainWindow(Application &app)
{
    // The buttons need the font database for the first frame. Building it reads
    // the whole font configuration, so it runs meanwhile, while the pictures
    // are decoded; the database may be used from any thread.
    const std::unique_ptr<QThread> fontLookup(QThread::create([] { QFontDatabase().families(); }));
    fontLookup->start();

    int result = 0;
    QString failure;
    try {
        UpdateWidget window(nullptr);
        window.show();
        result = app.exec();
    } catch (const QString &text) {
        failure = text;
    }
    fontLookup->wait();
    // The window is gone by now, as the user must not go on working in it.
    if (failure.isNull())
        failure = app.takeFailureText();
    if (!failure.isNull()) {
        showFailure(failure);
        result = -1;
    }
    return result;
}

} // namespace Strobix
