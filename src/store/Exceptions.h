#pragma once

#include <QString>
#include <utility>

// Store errors are thrown as pointers to objects of these empty classes;
// data-file errors are thrown by value.
class TypeNotFoundException
{
};
class TypeAlreadyExistsException
{
};
class NullTypeException
{
};
class NotRelatedException
{
};
class AlreadyRelatedException
{
};

class DataLoadFailure
{
};
// Says why, as the system put it ("No space left on device"), so the user
// can mend it; empty when nothing more is known.
class DataSaveFailure
{
public:
    DataSaveFailure() = default;
    explicit DataSaveFailure(QString why) : reason(std::move(why)) {}
    QString reason;
};
