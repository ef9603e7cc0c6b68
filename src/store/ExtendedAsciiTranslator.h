#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
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

    // Each code page the toolkit offers once, under its own name, sorted
    // without regard to case: the toolkit lists every alias of each.
    static QStringList CodePageNames();
    // The own name of the code page that a name or alias stands for; empty
    // when it stands for none.
    static QString OwnName(const QString& name);

    QString Decode(const std::string& bytes) const;
    static QString DecodeWith(const std::string& bytes, QTextCodec* codec);

private:
    QTextCodec* m_codec = nullptr;
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;
