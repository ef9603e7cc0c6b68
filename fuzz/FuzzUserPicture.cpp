// Another user's picture: any bytes decode to nothing or to a picture
// within the box it is shown in, read by a raster reader only, and only when
// the headers promise a bounded decode.
#include "FuzzSupport.h"
#include "users/UserPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The image readers are plugins, found through an application.
    fuzz::EnsureApplication();
    const QSize bounds(800, 400);
    const QByteArray bytes = fuzz::Bytes(data, size);
    UserPicture::Refusal refusal = UserPicture::Refusal::None;
    const QImage picture = UserPicture::Decode(bytes, bounds, &refusal);
    fuzz::Require(picture.isNull() == (refusal != UserPicture::Refusal::None));
    if (picture.isNull())
        return 0;
    fuzz::Require(!UserPicture::FormatOf(bytes).isEmpty());
    fuzz::Require(UserPicture::Check(bytes).refusal == UserPicture::Refusal::None);
    fuzz::Require(picture.width() <= bounds.width() && picture.height() <= bounds.height());
    return 0;
}
