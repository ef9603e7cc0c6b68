#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// The byte string of an item: UTF-8 for texts, decimal text for numbers and
// for object addresses.
class Value
{
public:
    Value() {}
    Value(const char* text) : m_bytes(text ? text : "") {}
    Value(char* text) : m_bytes(text ? text : "") {}
    Value(const std::string& bytes) : m_bytes(bytes) {}
    Value(std::string&& bytes) : m_bytes(std::move(bytes)) {}
    Value(const QString& text);
    Value(const QByteArray& bytes) : m_bytes(bytes.constData(), size_t(bytes.size())) {}
    Value(int n) : m_bytes(std::to_string(n)) {}
    Value(unsigned n) : m_bytes(std::to_string(n)) {}
    Value(long n) : m_bytes(std::to_string(n)) {}
    Value(unsigned long n) : m_bytes(std::to_string(n)) {}
    Value(long long n) : m_bytes(std::to_string(n)) {}
    Value(unsigned long long n) : m_bytes(std::to_string(n)) {}
    // An object's address, so that a row, page or heap object can be found
    // again from its item.
    template <class T>
    Value(T* object) : m_bytes(std::to_string(static_cast<unsigned long long>(reinterpret_cast<quintptr>(object))))
    {
    }

    const std::string& Bytes() const { return m_bytes; }
    operator const std::string&() const { return m_bytes; }
    bool operator==(const Value& other) const { return m_bytes == other.m_bytes; }
    bool operator!=(const Value& other) const { return m_bytes != other.m_bytes; }

private:
    std::string m_bytes;
};
