#include "app/startup.h"

#include "app/application.h"
#include "app/globals.h"
#include "ui/updatewidget.h"

#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QStandardPaths>

namespace Strobix {

void useHighDpiScaling()
{
    // The window and the help dialog are laid out in logical pixels. Without
    // this, the fonts grow with the display's scaling and the fixed sizes do
    // not, which cuts the help text off. Qt's default rounding would show
    // 150 % as 200 % and 125 % as 100 %.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    // Pictures with a devicePixelRatio, so that the @2x ones are drawn sharp.
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
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

int runMainWindow(Application &app, const QString &publicKeys)
{
    useSystemProxy();
    int result = 0;
    QString failure;
    try {
        UpdateWidget window(nullptr, publicKeys);
        window.show();
        result = app.exec();
    } catch (const QString &text) {
        failure = text;
    }
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
