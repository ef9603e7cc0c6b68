#pragma once

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
class DataSaveFailure
{
};
