#pragma once

#include <QByteArray>
#include <QString>
#include <string>

class QTextCodec;

// The 8-bit code page in which text that is not UTF-8 is read (other clients
// send names and messages in their local code page).
class ExtendedAsciiTranslator
{
public:
    // Starts with the code page of the stored setting, if any.
    ExtendedAsciiTranslator();
    ~ExtendedAsciiTranslator();
    ExtendedAsciiTranslator(const ExtendedAsciiTranslator&) = delete;
    ExtendedAsciiTranslator& operator=(const ExtendedAsciiTranslator&) = delete;

    // Stores the name as the setting "extended_ascii_codepage" and reads
    // with the toolkit's codec of that name from now on; an empty or unknown
    // name reads one byte per character (Latin-1).
    void SetCodePage(const QByteArray& name);
    // Null when none is chosen.
    QTextCodec* GetCodec() const;

    QString Decode(const std::string& bytes) const;
    static QString DecodeWith(const std::string& bytes, QTextCodec* codec);

private:
    QTextCodec* m_codec = nullptr;
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;
