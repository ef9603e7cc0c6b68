#include "UserPicture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

namespace {

int LittleEndian16(const QByteArray& bytes, int at)
{
    return quint8(bytes[at]) | quint8(bytes[at + 1]) << 8;
}

// The canvas the GIF reader decodes the first frame into: the logical
// screen, grown to hold the frame where it lies (the reader grows it so when
// the screen is missing or implausible). Its reported size is the frame's
// alone, so a 1 x 1 frame on a 10,000 x 4,000 screen would pass for small.
// The screen alone when no frame is found here; invalid for no screen.
QSize GifCanvas(const QByteArray& bytes)
{
    const int size = bytes.size();
    if (size < 13)
        return QSize();
    const QSize screen(LittleEndian16(bytes, 6), LittleEndian16(bytes, 8));
    const quint8 flags = quint8(bytes[10]);
    int at = 13;
    if (flags & 0x80)
        at += 3 << ((flags & 7) + 1);
    while (at < size) {
        const quint8 block = quint8(bytes[at]);
        if (block == 0x2c) {
            if (at + 9 > size)
                break;
            const int left = LittleEndian16(bytes, at + 1);
            const int top = LittleEndian16(bytes, at + 3);
            return screen.expandedTo(QSize(left + LittleEndian16(bytes, at + 5), top + LittleEndian16(bytes, at + 7)));
        }
        if (block != 0x21)
            break;
        // An extension: its label, then sub-blocks up to an empty one.
        at += 2;
        while (at < size && bytes[at] != 0)
            at += quint8(bytes[at]) + 1;
        ++at;
    }
    return screen;
}

// Each scan starts with this marker; counted anywhere in the bytes, which
// can only overcount (a thumbnail's scans too), never miss one.
int JpegMarkedScans(const QByteArray& bytes)
{
    return bytes.count(QByteArray("\xff\xda", 2));
}

// A JPEG as the decoder walks it: segment by segment by their lengths (a
// thumbnail inside one is no scan of this picture), a scan's data up to the
// next marker that is no restart, stray bytes between segments skipped.
struct JpegLayout
{
    quint8 frame = 0; // the first frame marker, 0 for none
    int components = 0;
    int scans = 0;
    int firstScanComponents = 0;
};

JpegLayout JpegLayoutOf(const QByteArray& bytes)
{
    JpegLayout layout;
    const int size = bytes.size();
    const auto at = [&](int i) { return quint8(bytes[i]); };
    const auto isRestart = [](quint8 marker) { return marker >= 0xd0 && marker <= 0xd7; };
    int i = 2;
    while (i + 1 < size) {
        const quint8 marker = at(i + 1);
        if (at(i) != 0xff || marker == 0xff || marker == 0x00) {
            i += at(i) == 0xff && marker == 0x00 ? 2 : 1;
            continue;
        }
        if (marker == 0xd9)
            break;
        if (isRestart(marker) || marker == 0x01) {
            i += 2;
            continue;
        }
        if (i + 3 >= size)
            break;
        const int body = i + 4;
        const int length = at(i + 2) << 8 | at(i + 3);
        const bool isFrame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (isFrame && layout.frame == 0 && body + 5 < size) {
            layout.frame = marker;
            layout.components = at(body + 5);
        }
        if (marker == 0xda && body < size && ++layout.scans == 1)
            layout.firstScanComponents = at(body);
        i += 2 + length;
        if (marker == 0xda) {
            while (i + 1 < size && !(at(i) == 0xff && at(i + 1) != 0x00 && !isRestart(at(i + 1))))
                ++i;
        }
    }
    return layout;
}

// A sequential JPEG of one scan that holds every colour is decoded a row of
// blocks at a time, straight to the size it is shown at: its source may be
// far larger than any frame decoded whole. Anything else (progressive, or
// more scans) is held in whole by the decoder, coefficients of every block.
bool IsStreamedJpeg(const QByteArray& bytes)
{
    const JpegLayout layout = JpegLayoutOf(bytes);
    // More marked scans than one and a thumbnail's would mean this walk and
    // the decoder's disagree.
    return (layout.frame == 0xc0 || layout.frame == 0xc1) && layout.scans == 1 &&
           layout.firstScanComponents == layout.components && JpegMarkedScans(bytes) <= 2;
}

// The signature chose the reader; no other is tried when it fails.
void KeepToFormat(QImageReader& reader)
{
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
}

} // namespace

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

UserPicture::Cost UserPicture::Check(const QByteArray& bytes)
{
    Cost cost;
    cost.format = FormatOf(bytes);
    if (cost.format.isEmpty())
        return cost;
    if (bytes.size() > MaxBytes) {
        cost.refusal = Refusal::TooManyBytes;
        return cost;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return cost;
    QImageReader reader(&buffer, cost.format);
    KeepToFormat(reader);
    cost.frame = reader.size();
    if (cost.format == "gif" && cost.frame.isValid())
        cost.frame = GifCanvas(bytes).expandedTo(cost.frame);
    if (!cost.frame.isValid() || cost.frame.isEmpty())
        return cost;
    const bool isJpeg = cost.format == "jpeg";
    const bool streamed = isJpeg && IsStreamedJpeg(bytes);
    if (cost.frame.width() > MaxSide || cost.frame.height() > MaxSide ||
        qint64(cost.frame.width()) * cost.frame.height() > (streamed ? MaxStreamedPixels : MaxPixels))
        cost.refusal = Refusal::TooManyPixels;
    else if (isJpeg && JpegMarkedScans(bytes) > MaxScans)
        cost.refusal = Refusal::TooManyScans;
    else if (isJpeg && !streamed && bytes.size() > MaxHeldJpegBytes)
        cost.refusal = Refusal::TooManyBytes;
    else
        cost.refusal = Refusal::None;
    return cost;
}

QImage UserPicture::Decode(const QByteArray& bytes, const QSize& bounds, Refusal* refusal)
{
    const Cost cost = Check(bytes);
    if (refusal)
        *refusal = cost.refusal;
    if (cost.refusal != Refusal::None)
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer, cost.format);
    KeepToFormat(reader);
    const QSize size = reader.size();
    if (size.width() > bounds.width() || size.height() > bounds.height())
        reader.setScaledSize(size.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image)) {
        if (refusal)
            *refusal = Refusal::NotAPicture;
        return QImage();
    }
    // A header may tell one size and the frames another.
    if (image.width() > bounds.width() || image.height() > bounds.height())
        image = image.scaled(bounds, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QString UserPicture::Notice(Refusal refusal)
{
    switch (refusal) {
    case Refusal::TooManyBytes:
        return QCoreApplication::translate("UserPicture", "The picture is left out: its file is too large.");
    case Refusal::TooManyPixels:
        return QCoreApplication::translate("UserPicture", "The picture is left out: it has too many pixels.");
    case Refusal::TooManyScans:
        return QCoreApplication::translate("UserPicture",
                                           "The picture is left out: it is drawn in more than %1 passes.")
            .arg(MaxScans);
    case Refusal::None:
    case Refusal::NotAPicture:
        break;
    }
    return QString();
}
