#pragma once

#include <QHash>
#include <QString>
#include <QWidget>
#include <set>
#include <string>

#include "ItemPtr.h"

class QTabWidget;
class QPlainTextEdit;

// The diagnostics window: one page per log area. With "user_level_logging"
// on, a line about an item of a registered type is also kept as an
// "item_log" record on that item and appended to a file per area in
// ~/Quorvane Logs/.
class DiagnosticsForm : public QWidget
{
    Q_OBJECT

public:
    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    // Declares the log record types.
    void Init();
    void RegisterLoggableItemType(const std::string& type);
    void Log(const QString& area, int level, const QString& text, ItemPtr item);

    // The text of one area's page, for tests and the dump.
    QString AreaText(const QString& area) const;
    static QString LogFolder();
    // An area name made safe as a file name that cannot leave the folder.
    static QString AreaFileName(const QString& area);

private:
    QPlainTextEdit* Page(const QString& area);
    void Record(const QString& area, int level, const QString& line, const QString& text, ItemPtr item);

    QTabWidget* m_tabs;
    QHash<QString, QPlainTextEdit*> m_pages;
    std::set<std::string> m_loggableTypes;
    qint64 m_order = 0;
};

extern DiagnosticsForm* diagnosticsForm;
