#pragma once

#include "InputStream.h"
#include "OutputStream.h"

// A stream that can be both read and written.
class Stream : public InputStream, public OutputStream
{
public:
    using InputStream::Read;
    using OutputStream::Write;
};
