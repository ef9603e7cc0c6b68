#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Another user's picture, read with care: what decoding it would cost is
// told from its headers before a pixel is decoded, and a picture that would
// cost too much is refused. The rest is decoded straight to the size it is
// shown at. Only PNG, JPEG, GIF and BMP are read, each by its own reader.
class UserPicture
{
public:
    static constexpr int MaxSide = 10000;
    // Pixels of the frame a reader decodes into: 16 MB at 32 bits each, a
    // few times a large screen, for a view that shows 800 x 400.
    static constexpr qint64 MaxPixels = 4 * 1024 * 1024;
    // A JPEG of one sequential scan is decoded straight to the size shown,
    // an eighth of its own or more (a camera's photograph passes).
    static constexpr qint64 MaxStreamedPixels = 40000000;
    // A photograph from a phone camera fits.
    static constexpr int MaxBytes = 8 * 1024 * 1024;
    // A JPEG the decoder holds whole is gone over once per scan, its bytes
    // at a fraction of the speed of one that streams; an honest one has
    // about ten scans.
    static constexpr int MaxHeldJpegBytes = 2 * 1024 * 1024;
    static constexpr int MaxScans = 32;

    enum class Refusal
    {
        None,
        NotAPicture, // no format read here, no dimensions, or no frame
        TooManyBytes,
        TooManyPixels,
        TooManyScans,
    };

    struct Cost
    {
        Refusal refusal = Refusal::NotAPicture;
        QByteArray format;
        QSize frame; // as the headers tell it; for a GIF, its whole canvas
    };

    // What decoding the bytes would cost, from their headers alone; refusal
    // None when they may be decoded.
    static Cost Check(const QByteArray& bytes);

    // The picture fitted within bounds (aspect ratio kept, smoothly scaled)
    // when it is larger; null when Check refuses the bytes or they do not
    // decode, with the reason in refusal when given.
    static QImage Decode(const QByteArray& bytes, const QSize& bounds, Refusal* refusal = nullptr);

    // The plain notice shown for a picture refused for what it would cost;
    // empty for None and NotAPicture (bytes that are no picture are left out
    // without a word).
    static QString Notice(Refusal refusal);

    // "png", "jpeg", "gif" or "bmp" as the bytes begin; empty for any other.
    static QByteArray FormatOf(const QByteArray& bytes);
};
