// The server connection as the server's side of a loopback socket: each
// input is a fresh connection on which the server accepts the login and then
// sends the input's bytes as they are (frames, lengths and bodies alike)
// before it closes. Every handler is reached through the framing.
#include "FuzzServerSide.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static fuzz::ServerSide* server = new fuzz::ServerSide;
    server->Send(fuzz::Bytes(data, size));
    return 0;
}
