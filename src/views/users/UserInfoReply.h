#pragma once

#include <QString>
#include <QtGlobal>

#include "MemStream.h"

// The answer to another user's request for the own user information (peer
// message 16): the description, the picture file's bytes, and the state of
// the upload queue. The layout is in docs/protocol.md.
class UserInfoReply
{
public:
    struct Contents
    {
        QString description;
        QString picturePath; // empty for none
        quint32 uploadSlots = 0;
        quint32 queuedUploads = 0;
        bool freeSlot = false;
    };

    // From the settings "user_description", "user_picture_file" and
    // "upload_slots" and from the transfer engine.
    static Contents Current();

    // The whole message, code first. A picture that cannot be read whole,
    // or that would make the message longer than a peer accepts, is sent as
    // no picture.
    static MemStream Build(const Contents& contents);
};
