#include "ExtendedAsciiTranslator.h"

#include "Settings.h"

#include <QTextCodec>

#include <algorithm>
#include <limits>

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

namespace {
QTextCodec* CodecNamed(const QByteArray& name)
{
    return name.isEmpty() ? nullptr : QTextCodec::codecForName(name);
}
} // namespace

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
    : m_codec(CodecNamed(GetSetting("extended_ascii_codepage").toLatin1()))
{
    extendedAsciiTranslator = this;
}

ExtendedAsciiTranslator::~ExtendedAsciiTranslator()
{
    if (extendedAsciiTranslator == this)
        extendedAsciiTranslator = nullptr;
}

void ExtendedAsciiTranslator::SetCodePage(const QByteArray& name)
{
    SetSetting("extended_ascii_codepage", QString::fromLatin1(name));
    m_codec = CodecNamed(name);
}

QStringList ExtendedAsciiTranslator::CodePageNames()
{
    QStringList names;
    for (const QByteArray& alias : QTextCodec::availableCodecs())
        names << OwnName(QString::fromLatin1(alias));
    names.removeAll(QString());
    names.removeDuplicates();
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

QString ExtendedAsciiTranslator::OwnName(const QString& name)
{
    QTextCodec* codec = CodecNamed(name.toLatin1());
    return codec ? QString::fromLatin1(codec->name()) : QString();
}

QTextCodec* ExtendedAsciiTranslator::GetCodec() const
{
    return m_codec;
}

QString ExtendedAsciiTranslator::Decode(const std::string& bytes) const
{
    return DecodeWith(bytes, m_codec);
}

QString ExtendedAsciiTranslator::DecodeWith(const std::string& bytes, QTextCodec* codec)
{
    const int size =
        static_cast<int>(std::min<size_t>(bytes.size(), static_cast<size_t>(std::numeric_limits<int>::max())));
    if (codec)
        return codec->toUnicode(bytes.data(), size);
    return QString::fromLatin1(bytes.data(), size);
}
