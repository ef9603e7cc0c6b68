#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "UserPicture.h"

class QRunnable;

// Decodes other users' pictures away from the window's thread, one at a
// time (each decode is bounded; one at a time keeps their sum to one), and
// hands each result back on the thread of the loader.
//
// What the two threads share (the bytes asked for, the pictures decoded)
// passes under a mutex of the standard library, which the thread checker
// sees; the posted event that tells the loader's thread carries nothing, so
// no data crosses the toolkit's event queue unseen. The receivers and their
// functions never leave the loader's thread.
class UserPictureLoader : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QImage& picture, UserPicture::Refusal refusal)>;

    // The one loader, a child of the application; made on first use, from
    // the window's thread.
    static UserPictureLoader* Instance();

    ~UserPictureLoader() override;

    // done runs on the loader's thread with the picture fitted within bounds
    // (UserPicture::Decode), unless receiver is gone by then.
    void Load(const QByteArray& bytes, const QSize& bounds, QObject* receiver, Done done);

signals:
    // Emitted on the pool's thread, queued to the loader's: pictures wait.
    void Decoded();

private:
    explicit UserPictureLoader(QObject* parent);

    // On the pool's thread: decodes the pictures asked for until none is
    // left.
    void DecodeWaiting();
    // On the loader's thread: hands the decoded pictures to their receivers.
    void HandBack();

    struct Request
    {
        quint64 id;
        QByteArray bytes;
        QSize bounds;
    };
    struct Result
    {
        quint64 id;
        QImage picture;
        UserPicture::Refusal refusal;
    };
    struct Receiver
    {
        QPointer<QObject> object;
        Done done;
    };

    // The loader's thread only.
    std::unordered_map<quint64, Receiver> m_receivers;
    quint64 m_lastId = 0;

    // Both threads, under the mutex; decoding is set while the decoder is
    // started or runs.
    std::mutex m_mutex;
    std::deque<Request> m_requests;
    std::deque<Result> m_results;
    bool m_decoding = false;

    // Made before any thread of the pool, so every thread sees it whole.
    std::unique_ptr<QRunnable> m_decoder;
    QThreadPool m_pool;
};
