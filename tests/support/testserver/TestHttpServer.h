#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

class QTcpServer;

// A minimal HTTP/1.0 server on 127.0.0.1 for the client's web fetches: each
// path answers with a fixed status and body, any other path with 404.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpServer(QObject* parent = nullptr);

    bool Listen();
    quint16 Port() const;
    QString BaseUrl() const;

    void SetResponse(const QString& path, int status, const QByteArray& body);
    int RequestCount() const { return m_requests; }

signals:
    void Requested(QString path);

private slots:
    void OnNewConnection();

private:
    struct Response
    {
        int status;
        QByteArray body;
    };
    QTcpServer* m_listener;
    QMap<QString, Response> m_responses;
    int m_requests = 0;
};
