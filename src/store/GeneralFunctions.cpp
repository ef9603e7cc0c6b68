#include "GeneralFunctions.h"

#include "ExtendedAsciiTranslator.h"
#include "Settings.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTabWidget>
#include <QTextCodec>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace {
bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The path without one trailing separator.
std::string WithoutTrailingSeparator(const std::string& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}

// Bytes that are not UTF-8 come from clients that send their local 8-bit
// code page; the user picks which one.
QString DecodeExtendedAscii(const std::string& bytes)
{
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Decode(bytes);

    // Without a translator the setting names the code page. The look-up of a
    // codec by name scans every codec, so the last one found is kept.
    thread_local QByteArray cachedName;
    thread_local QTextCodec* cachedCodec = nullptr;
    const QByteArray name = GetSetting("extended_ascii_codepage").toLatin1();
    if (name != cachedName) {
        cachedName = name;
        cachedCodec = name.isEmpty() ? nullptr : QTextCodec::codecForName(name);
    }
    return ExtendedAsciiTranslator::DecodeWith(bytes, cachedCodec);
}
} // namespace

QString EscapeHTML(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("&"), QLatin1String("&amp;"));
    result.replace(QLatin1String("<"), QLatin1String("&lt;"));
    result.replace(QLatin1String(">"), QLatin1String("&gt;"));
    result.replace(QLatin1String("  "), QLatin1String(" &nbsp;"));
    return result;
}

QString ConvertLinks(const QString& text)
{
    // Unicode word characters, so an address glued to a word is left alone.
    static const QRegularExpression link(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"),
        QRegularExpression::UseUnicodePropertiesOption);
    QString result = text;
    result.replace(link, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return result;
}

QString CommafyNumber(long long number)
{
    if (number < 1)
        return QString();
    QString digits = QString::number(number);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return digits;
}

QString FormatSeconds(long seconds)
{
    QString result;
    unsigned long rest = static_cast<unsigned long>(seconds);
    if (seconds < 0) {
        // A length read from a peer may be negative; keep the sign in front
        // rather than on every part.
        result = QStringLiteral("-");
        rest = 0UL - rest;
    }
    const unsigned long days = rest / 86400;
    const unsigned long hours = rest % 86400 / 3600;
    const unsigned long minutes = rest % 3600 / 60;
    if (days > 0)
        result += QString::number(days) + QLatin1Char('d');
    if (days > 0 || hours > 0)
        result += QString::number(hours) + QLatin1Char('h');
    result += QString::number(minutes) + QLatin1Char('m');
    result += QString::number(rest % 60) + QLatin1Char('s');
    return result;
}

std::string GetFileName(const std::string& path)
{
    const std::string rest = WithoutTrailingSeparator(path);
    const size_t separator = rest.find_last_of("/\\");
    if (separator == std::string::npos)
        return rest;
    return rest.substr(separator + 1);
}

std::string GetFolder(const std::string& path)
{
    const std::string rest = WithoutTrailingSeparator(path);
    const size_t separator = rest.find_last_of("/\\");
    if (separator == std::string::npos)
        return rest;
    return rest.substr(0, separator);
}

std::string GetParentFolder(const std::string& path)
{
    const size_t end = path.find_last_not_of('\\');
    if (end == std::string::npos)
        return std::string();
    return GetFolder(path.substr(0, end + 1));
}

std::string GetFileExtension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string extension = name.substr(dot + 1);
    // Byte by byte, so the bytes of multi-byte UTF-8 characters stay as they are.
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

QString ReversePathname(const QString& path)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    QStringList parts = path.split(separators, Qt::SkipEmptyParts);
    std::reverse(parts.begin(), parts.end());
    return parts.join(QLatin1Char('/'));
}

std::string StringReplace(const std::string& text, const std::string& what, const std::string& with)
{
    if (what.empty())
        return text;
    std::string result;
    size_t from = 0;
    for (size_t found = text.find(what); found != std::string::npos; found = text.find(what, from)) {
        result.append(text, from, found - from);
        result += with;
        from = found + what.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

bool GetBit(unsigned value, int n)
{
    if (n < 1 || n > static_cast<int>(sizeof(unsigned) * 8))
        return false;
    return (value >> (n - 1)) & 1u;
}

void FocusWidget(QWidget* widget)
{
    if (!widget)
        return;
    QWidget* window = widget->window();
    window->raise();
    window->activateWindow();
    widget->setFocus();

    // Inner tab widgets first, so each outer one turns to the page that now
    // shows the widget's path.
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        QTabWidget* tabs = qobject_cast<QTabWidget*>(parent);
        if (!tabs)
            continue;
        for (QWidget* page = widget; page && page != parent; page = page->parentWidget()) {
            const int index = tabs->indexOf(page);
            if (index >= 0) {
                tabs->setCurrentIndex(index);
                break;
            }
        }
    }
}

QString ToQString(const std::string& bytes)
{
    const int size =
        static_cast<int>(std::min<size_t>(bytes.size(), static_cast<size_t>(std::numeric_limits<int>::max())));
    const char* data = bytes.data();
    // Most values are plain ASCII, which reads the same in every encoding.
    if (std::all_of(data, data + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(data, size);

    QString text = QString::fromUtf8(data, size);
    if (text.toUtf8() == QByteArray::fromRawData(data, size))
        return text;
    return DecodeExtendedAscii(bytes);
}
