// Another user's picture: any bytes decode to nothing or to a picture
// within the box it is shown in, read by a raster reader only.
#include "FuzzSupport.h"
#include "users/UserPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The image readers are plugins, found through an application.
    fuzz::EnsureApplication();
    const QSize bounds(800, 400);
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QImage picture = UserPicture::Decode(bytes, bounds);
    if (picture.isNull())
        return 0;
    fuzz::Require(!UserPicture::FormatOf(bytes).isEmpty());
    fuzz::Require(picture.width() <= bounds.width() && picture.height() <= bounds.height());
    return 0;
}
