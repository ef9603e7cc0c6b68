#pragma once

class OutputStream;

// A record that can write itself to a stream.
class StreamWritable
{
public:
    virtual ~StreamWritable() = default;
    virtual void Write(OutputStream& stream) const = 0;
};
