#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Another user's picture, read with care: its dimensions come from its
// header before a pixel is decoded, a picture larger than any screen is
// refused, and the rest is decoded straight to the size it is shown at.
// Only PNG, JPEG, GIF and BMP are read, each by its own reader.
class UserPicture
{
public:
    static constexpr int MaxSide = 10000;
    static constexpr qint64 MaxPixels = 40000000;

    // The picture fitted within bounds (aspect ratio kept, smoothly scaled)
    // when it is larger; null when the bytes are no picture, do not tell
    // their dimensions, or are over the limits.
    static QImage Decode(const QByteArray& bytes, const QSize& bounds);

    // "png", "jpeg", "gif" or "bmp" as the bytes begin; empty for any other.
    static QByteArray FormatOf(const QByteArray& bytes);
};
