#pragma once

#include "StreamReadable.h"
#include "StreamWritable.h"

// A record that travels in messages or the data file and reads back exactly
// what it wrote.
class Persistent : public StreamReadable, public StreamWritable
{
public:
    bool Read(InputStream& stream) override = 0;
    void Write(OutputStream& stream) const override = 0;
};
