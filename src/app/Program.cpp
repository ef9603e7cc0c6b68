#include "Program.h"

#include <QStyleFactory>

#include "Application.h"
#include "MainWindow.h"
#include "QuitSignals.h"
#include "StallProbe.h"

#include <memory>

int RunProgram(int& argc, char** argv, const std::function<void()>& started)
{
    auto* app = new Application("QuorvaneQt", argc, argv);
    // The running instance keeps the data file; a second one would only
    // overwrite it, so it leaves quietly.
    if (app->isRunning()) {
        delete app;
        return 0;
    }
    QApplication::setStyle(QStyleFactory::create("Plastique"));
    if (started)
        started();

    int code = 0;
    {
        // Made before the window so that it is still there while the
        // window's teardown saves: a second signal then ends the wait.
        QuitSignals quitSignals;
        QObject::connect(&quitSignals, &QuitSignals::QuitRequested, app, &QCoreApplication::quit);
        // A developer's heartbeat, made only when QUORVANE_STALL_PROBE is
        // set: it reports the first event-loop turn and every stall.
        std::unique_ptr<StallProbe> probe(StallProbe::FromEnvironment());
        MainWindow window;
        window.show();
        window.Init();
        if (!quitSignals.Received())
            code = app->exec();
    }
    delete app;
    return code;
}
