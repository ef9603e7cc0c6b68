#include "UserPictureLoader.h"

#include <QCoreApplication>
#include <QPointer>

UserPictureLoader* UserPictureLoader::Instance()
{
    static QPointer<UserPictureLoader> loader;
    if (!loader)
        loader = new UserPictureLoader(QCoreApplication::instance());
    return loader;
}

UserPictureLoader::UserPictureLoader(QObject* parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

UserPictureLoader::~UserPictureLoader()
{
    // A decode under way hands its result to this object: it must finish
    // while the object is whole. What it posted goes with the object.
    m_pool.clear();
    m_pool.waitForDone();
}

void UserPictureLoader::Load(const QByteArray& bytes, const QSize& bounds, QObject* receiver, Done done)
{
    QPointer<QObject> guard(receiver);
    m_pool.start(QRunnable::create([this, bytes, bounds, guard, done]() mutable {
        UserPicture::Refusal refusal = UserPicture::Refusal::None;
        const QImage picture = UserPicture::Decode(bytes, bounds, &refusal);
        QMetaObject::invokeMethod(
            this,
            [guard = std::move(guard), done = std::move(done), picture, refusal] {
                if (guard)
                    done(picture, refusal);
            },
            Qt::QueuedConnection);
    }));
}
