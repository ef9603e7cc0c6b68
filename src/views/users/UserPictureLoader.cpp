#include "UserPictureLoader.h"

#include <QCoreApplication>
#include <QRunnable>
#include <utility>

UserPictureLoader* UserPictureLoader::Instance()
{
    static QPointer<UserPictureLoader> loader;
    if (!loader)
        loader = new UserPictureLoader(QCoreApplication::instance());
    return loader;
}

UserPictureLoader::UserPictureLoader(QObject* parent)
    : QObject(parent), m_decoder(QRunnable::create([this] { DecodeWaiting(); }))
{
    // Started again for each run of requests, never deleted by the pool.
    m_decoder->setAutoDelete(false);
    m_pool.setMaxThreadCount(1);
    connect(this, &UserPictureLoader::Decoded, this, &UserPictureLoader::HandBack, Qt::QueuedConnection);
}

UserPictureLoader::~UserPictureLoader()
{
    // A decode under way hands its result to this object: it must finish
    // while the object is whole. What it posted goes with the object.
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }
    m_pool.waitForDone();
}

void UserPictureLoader::Load(const QByteArray& bytes, const QSize& bounds, QObject* receiver, Done done)
{
    const quint64 id = ++m_lastId;
    m_receivers.emplace(id, Receiver{receiver, std::move(done)});
    bool start = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({id, bytes, bounds});
        start = !std::exchange(m_decoding, true);
    }
    if (start)
        m_pool.start(m_decoder.get());
}

void UserPictureLoader::DecodeWaiting()
{
    for (;;) {
        Request request;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_requests.empty()) {
                m_decoding = false;
                return;
            }
            request = std::move(m_requests.front());
            m_requests.pop_front();
        }
        UserPicture::Refusal refusal = UserPicture::Refusal::None;
        QImage picture = UserPicture::Decode(request.bytes, request.bounds, &refusal);
        request.bytes = QByteArray();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_results.push_back({request.id, std::move(picture), refusal});
        }
        emit Decoded();
    }
}

void UserPictureLoader::HandBack()
{
    std::deque<Result> results;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        results.swap(m_results);
    }
    for (const Result& result : results) {
        const auto waiting = m_receivers.find(result.id);
        if (waiting == m_receivers.end())
            continue;
        const Receiver receiver = std::move(waiting->second);
        m_receivers.erase(waiting);
        if (receiver.object)
            receiver.done(result.picture, result.refusal);
    }
}
