#include "app/application.h"
#include "app/startup.h"
#ifdef Q_OS_UNIX
#include "app/unixsignals.h"
#endif

#include <QtGlobal>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    Strobix::useHighDpiScaling();
    Strobix::Application app(argc, argv);
#ifdef Q_OS_UNIX
    const Strobix::UnixSignals signalsEndTheLoop;
#endif
    Strobix::setApplicationIdentity();
    Strobix::prepareDataFolder();
    return Strobix::runMainWindow(app);
}
