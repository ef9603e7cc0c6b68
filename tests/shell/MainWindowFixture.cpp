#include "MainWindowFixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>

#include "Data.h"
#include "DataFileWriter.h"
#include "MainWindow.h"
#include "Server.h"
#include "ShellHooks.h"

MainWindowFixture::MainWindowFixture()
{
    m_valid = server.Listen() && web.Listen();
    qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server.Port()));
    qputenv("QUORVANE_WEB", web.BaseUrl().toUtf8());
    m_palette = QApplication::palette();
    m_font = QApplication::font();
}

MainWindowFixture::~MainWindowFixture()
{
    Stop();
}

bool MainWindowFixture::Reset()
{
    Stop();
    m_home.reset(new QTemporaryDir);
    if (!m_home->isValid())
        return false;
    qputenv("HOME", m_home->path().toUtf8());
    d.Reset();
    g_showIsOver = false;
    return true;
}

MainWindow* MainWindowFixture::Start(const QMap<QString, QString>& settings, const QMap<QString, QString>& sounds)
{
    if (!settings.isEmpty() && !DataFileWriter::Write(MainWindow::DataFilePrefix(), settings, sounds))
        return nullptr;
    window = new MainWindow();
    window->show();
    window->Init();
    return window;
}

void MainWindowFixture::Stop()
{
    // Dialogs without a parent outlive the window unless closed here.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != window && qobject_cast<QDialog*>(widget) && !widget->parentWidget())
            delete widget;
    }
    delete window;
    window = nullptr;
    d.Reset();
    g_showIsOver = false;
    QApplication::setPalette(m_palette);
    QApplication::setFont(m_font);
    server.RefuseLogins(QString());
    server.HoldLogins(false);
    server.CutAll();
    server.ClearReceived();
}

QMap<QString, QString> MainWindowFixture::Account(const QString& user)
{
    return {{"username", user}, {"password", "pw"}};
}

bool MainWindowFixture::WaitForLogin()
{
    if (!gp_server)
        return false;
    if (gp_server->IsConnected())
        return true;
    QSignalSpy connected(gp_server, &Server::Connected);
    return connected.wait(30000) || gp_server->IsConnected();
}

QList<QMessageBox*> MainWindowFixture::Boxes(const QString& title) const
{
    QList<QMessageBox*> found;
    for (QMessageBox* box : Shown<QMessageBox>()) {
        if (box->windowTitle() == title)
            found << box;
    }
    return found;
}

QString MainWindowFixture::HomePath(const QString& relative) const
{
    return m_home ? m_home->filePath(relative) : QString();
}

QWidget* MainWindowFixture::FindControl(const char* name) const
{
    QWidget* control = window ? window->findChild<QWidget*>(name) : nullptr;
    if (!control)
        qWarning("no control %s", name);
    return control;
}

QList<QWidget*> MainWindowFixture::ShownWidgets() const
{
    QList<QWidget*> shown;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->isWindow() && widget->isVisible())
            shown << widget;
    }
    return shown;
}
