#include "UserPicture.h"

#include <QBuffer>
#include <QImageReader>

QByteArray UserPicture::FormatOf(const QByteArray& bytes)
{
    // The few raster formats a picture of a user comes in, told by their
    // signatures: every other reader the toolkit has (vector drawings,
    // icons, text pixmaps) stays out of reach of another user's bytes.
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (bytes.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return "gif";
    if (bytes.startsWith("BM"))
        return "bmp";
    return QByteArray();
}

QImage UserPicture::Decode(const QByteArray& bytes, const QSize& bounds)
{
    const QByteArray format = FormatOf(bytes);
    if (format.isEmpty())
        return QImage();
    QByteArray data = bytes;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer, format);
    // The signature chose the reader; no other is tried when it fails.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > MaxSide || size.height() > MaxSide ||
        qint64(size.width()) * size.height() > MaxPixels)
        return QImage();
    if (size.width() > bounds.width() || size.height() > bounds.height())
        reader.setScaledSize(size.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image))
        return QImage();
    // A header may tell one size and the frames another.
    if (image.width() > bounds.width() || image.height() > bounds.height())
        image = image.scaled(bounds, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
