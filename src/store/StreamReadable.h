#pragma once

class InputStream;

// A record that can fill itself from a stream.
class StreamReadable
{
public:
    virtual ~StreamReadable() = default;
    // False when the stream ends before the record does.
    virtual bool Read(InputStream& stream) = 0;
};
