// Writes a PNG of one window as the X server shows it (the whole screen
// without a window id):
//   quorvane-grab-window OUTPUT.png [WINDOW-ID]
// Run with QT_QPA_PLATFORM=xcb and the DISPLAY of the program shown.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 2 || argc > 3) {
        err << "usage: quorvane-grab-window OUTPUT.png [WINDOW-ID]\n";
        return 2;
    }
    bool ok = true;
    const WId window = argc == 3 ? WId(QString(argv[2]).toULongLong(&ok, 0)) : 0;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!ok || !screen) {
        err << "no such window or screen\n";
        return 1;
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        err << "cannot grab window " << window << " into " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
