#pragma once

#include <QFont>
#include <QMap>
#include <QPalette>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "TestHttpServer.h"
#include "TestServer.h"

class MainWindow;
class QMessageBox;
class QWidget;

// The whole program in one process, as main() puts it together, against
// the loopback test server and web host: each case gets a home and a store
// of its own, a data file as an earlier run left it, and a window whose
// Init has run. The server's and web host's addresses stay for the run.
class MainWindowFixture
{
public:
    MainWindowFixture();
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture&) = delete;
    MainWindowFixture& operator=(const MainWindowFixture&) = delete;

    bool IsValid() const { return m_valid; }

    // A stored account for the user.
    static QMap<QString, QString> Account(const QString& user = "me");

    // A fresh home and store; call from the test's init().
    bool Reset();
    // Writes the data file, then builds, shows and initialises the window.
    // An account in the settings makes it connect at once.
    MainWindow* Start(const QMap<QString, QString>& settings = Account("me"),
                      const QMap<QString, QString>& sounds = QMap<QString, QString>());
    // Takes the window down; call from the test's cleanup().
    void Stop();
    // Waits until the window's server connection is logged in.
    bool WaitForLogin();

    template <class T>
    T* Control(const char* name) const;

    // Visible message boxes that are the window's children with this title.
    QList<QMessageBox*> Boxes(const QString& title) const;
    // Visible top-level widgets of a class (dialogs shown without a parent
    // are found here too).
    template <class T>
    QList<T*> Shown() const;

    QString HomePath(const QString& relative) const;

    TestServer server;
    TestHttpServer web;
    MainWindow* window = nullptr;

private:
    QWidget* FindControl(const char* name) const;
    QList<QWidget*> ShownWidgets() const;

    bool m_valid = false;
    std::unique_ptr<QTemporaryDir> m_home;
    QPalette m_palette;
    QFont m_font;
};

template <class T>
T* MainWindowFixture::Control(const char* name) const
{
    return qobject_cast<T*>(FindControl(name));
}

template <class T>
QList<T*> MainWindowFixture::Shown() const
{
    QList<T*> found;
    for (QWidget* widget : ShownWidgets()) {
        if (T* t = qobject_cast<T*>(widget))
            found << t;
    }
    return found;
}
