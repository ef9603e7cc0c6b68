#include <QStyleFactory>

#include "Application.h"
#include "MainWindow.h"

int main(int argc, char** argv)
{
    auto* app = new Application("QuorvaneQt", argc, argv);
    // The running instance keeps the data file; a second one would only
    // overwrite it, so it leaves quietly.
    if (app->isRunning()) {
        delete app;
        return 0;
    }
    QApplication::setStyle(QStyleFactory::create("Plastique"));

    int code = 0;
    {
        MainWindow window;
        window.show();
        window.Init();
        code = app->exec();
    }
    delete app;
    return code;
}
