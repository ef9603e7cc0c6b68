#include "DiagnosticsForm.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>

#include "Data.h"
#include "Log.h"
#include "Settings.h"

DiagnosticsForm* diagnosticsForm = nullptr;

void Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    DiagnosticsForm* form = diagnosticsForm;
    if (!form)
        return;
    if (QThread::currentThread() != form->thread()) {
        // The store and the window belong to the event-loop thread.
        QPointer<DiagnosticsForm> target(form);
        QMetaObject::invokeMethod(
            form,
            [target, area, level, text, item]() {
                if (target)
                    target->Log(area, level, text, item);
            },
            Qt::QueuedConnection);
        return;
    }
    form->Log(area, level, text, item);
}

bool IsLogging()
{
    DiagnosticsForm* form = diagnosticsForm;
    if (!form)
        return false;
    if (QThread::currentThread() != form->thread())
        return true;
    return IsSettingOn("show_diagnostics");
}

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QWidget(parent), m_tabs(new QTabWidget(this))
{
    diagnosticsForm = this;
    setObjectName("diagnosticsForm");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
}

DiagnosticsForm::~DiagnosticsForm()
{
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
}

void DiagnosticsForm::Init()
{
    if (d.HasType("item_log"))
        return;
    Type* log = d.NewType("item_log", 1, true, false);
    for (const char* attribute : {"log_time", "log_area", "log_level", "log_text", "log_order"})
        log->RelateToType(d.NewType(attribute, 2, false, true), many, one, false);
}

void DiagnosticsForm::RegisterLoggableItemType(const std::string& type)
{
    Type* log = d.HasType("item_log");
    Type* target = d.HasType(type);
    if (!log || !target || m_loggableTypes.count(type))
        return;
    log->RelateToType(target, many, one, false);
    m_loggableTypes.insert(type);
}

QPlainTextEdit* DiagnosticsForm::Page(const QString& area)
{
    auto it = m_pages.find(area);
    if (it != m_pages.end())
        return it.value();
    auto* page = new QPlainTextEdit(m_tabs);
    page->setReadOnly(true);
    // A long session must not grow the window without bound.
    page->setMaximumBlockCount(20000);
    m_tabs->addTab(page, area);
    m_pages.insert(area, page);
    return page;
}

QString DiagnosticsForm::AreaText(const QString& area) const
{
    auto it = m_pages.find(area);
    return it == m_pages.end() ? QString() : it.value()->toPlainText();
}

QString DiagnosticsForm::LogFolder()
{
    return QDir::homePath() + "/Quorvane Logs";
}

QString DiagnosticsForm::AreaFileName(const QString& area)
{
    QString name;
    for (QChar c : area)
        name += (c.isLetterOrNumber() || c == ' ' || c == '-' || c == '_') && c.unicode() < 128 ? c : QChar('_');
    name = name.trimmed();
    if (name.isEmpty())
        name = "_";
    return name + ".log";
}

void DiagnosticsForm::Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    if (!IsSettingOn("show_diagnostics"))
        return;
    const QString indented = QString(3 * qMax(0, qMin(level, 3) - 1), ' ') + text;
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    const QString line = "[" + stamp + "] " + indented;
    Page(area)->appendPlainText(line);
    if (item && !item.IsRemoved() && IsSettingOn("user_level_logging"))
        Record(area, level, line, text, item);
}

void DiagnosticsForm::Record(const QString& area, int level, const QString& line, const QString& text, ItemPtr item)
{
    Type* log = d.HasType("item_log");
    if (!log || !m_loggableTypes.count(item.GetType()->GetName()))
        return;
    ItemPtr record = log->NewItem();
    record += d.GetType("log_time")->NewItem(QDateTime::currentDateTime().toString(Qt::TextDate));
    record += d.GetType("log_area")->NewItem(area);
    record += d.GetType("log_level")->NewItem(level);
    record += d.GetType("log_text")->NewItem(text);
    record += d.GetType("log_order")->NewItem(++m_order);
    // Connected last, so observers of the item see the record complete.
    record += item;

    const QString folder = LogFolder();
    if (!QDir().mkpath(folder))
        return;
    QFile file(folder + "/" + AreaFileName(area));
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        QTextStream out(&file);
        out.setCodec("UTF-8");
        out << line << " (" << item.AsString() << ")\n";
    }
}
