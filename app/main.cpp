#include "app/application.h"
#include "app/startup.h"

#include <QtGlobal>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    Strobix::Application app(argc, argv);
    Strobix::setApplicationIdentity();
    Strobix::useSystemProxy();
    Strobix::prepareDataFolder();
    return Strobix::runMainWindow(app);
}
