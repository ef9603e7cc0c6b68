#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QThreadPool>
#include <functional>

#include "UserPicture.h"

// Decodes other users' pictures away from the window's thread, one at a
// time (each decode is bounded; one at a time keeps their sum to one), and
// hands each result back on the thread of the loader.
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

private:
    explicit UserPictureLoader(QObject* parent);

    QThreadPool m_pool;
};
