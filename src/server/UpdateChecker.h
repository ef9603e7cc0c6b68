#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;

// The build number of this client, compared with the published one.
extern const qint64 g_currentVersion;

// Fetches the published version file once per run, after the first login,
// and announces a newer build.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    static const char* const VersionFileName;

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Waits for the first login of the run; the check follows it.
    void Init();
    // Fetches the version file now.
    void Check();

    // The version file's lines: version, download base, file name stem,
    // release notes. False for anything else.
    static bool ParseVersionFile(const QByteArray& contents, qint64& version, QString& downloadLink,
                                 QStringList& description);

signals:
    void NewVersion(qint64 version, QString downloadLink, QStringList description);
    // The check is over, whatever its outcome.
    void CheckFinished();

private slots:
    void OnConnected();
    void OnReplyFinished();

private:
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_reply = nullptr;
    bool m_checked = false;
};
