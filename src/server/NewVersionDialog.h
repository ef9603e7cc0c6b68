#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;

// Offers a newer build: its number, its release notes and the link to it.
// Deletes itself when closed.
class NewVersionDialog : public QDialog
{
    Q_OBJECT

public:
    NewVersionDialog(qint64 version, QString downloadLink, QStringList description, QWidget* parent = nullptr);

    QString DownloadLink() const { return m_downloadLink; }

private:
    QString m_downloadLink;
};
