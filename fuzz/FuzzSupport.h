#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cstdint>
#include <cstdlib>
#include <functional>

// What the fuzz targets share: one application object for the process, the
// input as bytes, and a bounded wait on the event loop.
namespace fuzz {

// App: QApplication for targets that lay out text or show widgets.
template <class App = QCoreApplication>
void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUORVANE_TEST", "1");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new App(argc, argv);
}

inline QByteArray Bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

// Runs the event loop until done() or the deadline; a loopback exchange
// that has not settled by then never will.
inline void RunUntil(const std::function<bool()>& done, int timeoutMs = 2000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A broken promise of the code under test: libFuzzer records the input.
inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace fuzz
