// The stream readers: a script of reads, each picked by one byte of the
// input, over the rest of the input; a failed read changes nothing.
#include "FuzzSupport.h"
#include "MemStream.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t scriptLength = std::min<size_t>(data[0], size - 1);
    const uint8_t* script = data + 1;
    MemStream stream(data + 1 + scriptLength, (unsigned long)(size - 1 - scriptLength));
    for (size_t i = 0; i < scriptLength; ++i) {
        const unsigned long before = stream.GetReadPosition();
        bool ok = false;
        switch (script[i] % 8) {
        case 0:
        {
            quint8 v = 0;
            ok = stream.Read(v);
            break;
        }
        case 1:
        {
            quint32 v = 0;
            ok = stream.Read(v);
            break;
        }
        case 2:
        {
            quint64 v = 0;
            ok = stream.Read(v);
            break;
        }
        case 3:
        {
            std::string text;
            ok = stream.Read(text);
            break;
        }
        case 4:
        {
            QString text;
            ok = stream.Read(text);
            break;
        }
        case 5:
        {
            QByteArray bytes;
            ok = stream.ReadBytes(bytes, script[i] >> 3);
            break;
        }
        case 6:
            ok = stream.SetReadPosition(script[i] >> 3);
            break;
        default:
            stream.DiscardRead();
            ok = true;
            break;
        }
        if (!ok && script[i] % 8 != 6)
            fuzz::Require(stream.GetReadPosition() == before);
    }
    return 0;
}
