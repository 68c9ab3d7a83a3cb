// The start-up baseline: a bare Qt program showing a fixed 480x480 window
// with one picture (the updater's background), and nothing else.

#include <QApplication>
#include <QLabel>
#include <QPixmap>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window;
    window.setPixmap(QPixmap(QStringLiteral(":picture.jpg")));
    window.setFixedSize(480, 480);
    window.show();
    return app.exec();
}
