#include "Program.h"

#include <QStyleFactory>

#include "Application.h"
#include "MainWindow.h"
#include "QuitSignals.h"
#include "StallProbe.h"
#include "StartFailure.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <sys/resource.h>

long long RaiseOpenFilesLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return -1;
    if (files.rlim_cur != files.rlim_max) {
        const rlim_t soft = files.rlim_cur;
        files.rlim_cur = files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &files) != 0)
            files.rlim_cur = soft;
    }
    return files.rlim_cur == RLIM_INFINITY ? std::numeric_limits<long long>::max() : (long long)files.rlim_cur;
}

int RunProgram(int& argc, char** argv, const std::function<void()>& started)
{
    // Before anything opens a file: peer messaging sizes its share of
    // connections by this limit when it is made.
    RaiseOpenFilesLimit();
    auto* app = new Application("QuorvaneQt", argc, argv, MainWindow::DataFilePrefix() + ".lock");
    // A start that cannot even tell whether another runs must not run
    // beside one unseen: it says why and fails.
    if (!app->startError().isEmpty()) {
        StartFailure::Tell(app->startError());
        delete app;
        return 1;
    }
    // The running instance keeps the data file; a second one would only
    // overwrite it, so it leaves quietly (telling where the other is when
    // the user could not have seen it).
    if (app->isRunning()) {
        if (!app->runningElsewhere().isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(app->runningElsewhere()));
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
        // A quit by signal has no one to ask what to do when it fails, and
        // a run whose data could not be saved did not end well.
        if (!window.SaveAtExit([&quitSignals] { return !quitSignals.Received(); }) && code == 0)
            code = 1;
    }
    delete app;
    return code;
}
