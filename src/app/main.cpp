#include <QStyleFactory>
#include <memory>

#include "Application.h"
#include "MainWindow.h"
#include "StallProbe.h"

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
        // A developer's heartbeat, made only when QUORVANE_STALL_PROBE is
        // set: it reports the first event-loop turn and every stall.
        std::unique_ptr<StallProbe> probe(StallProbe::FromEnvironment());
        MainWindow window;
        window.show();
        window.Init();
        code = app->exec();
    }
    delete app;
    return code;
}
