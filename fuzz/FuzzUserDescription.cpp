// Another user's description as the information view shows it: the
// sanitiser, then a real layout of what it made, wrapped as the view wraps.
// Whatever the peer sends, the layout stays within the bounds and ends.
#include "FuzzSupport.h"
#include "FuzzWidgets.h"
#include "common/InertTextDocument.h"
#include "users/DescriptionMarkup.h"

#include <QTextOption>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Layout needs fonts: a GUI application on the offscreen platform.
    fuzz::EnsureWidgetsApplication();

    const QString description = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const DescriptionMarkup::Result result = DescriptionMarkup::Sanitize(description);
    // The notices and the closing tags are all that may pass the bound.
    fuzz::Require(result.html.size() <= DescriptionMarkup::MaxMarkup + 1000);

    InertTextDocument document;
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(DescriptionMarkup::Wrap);
    document.setDefaultTextOption(option);
    document.setTextWidth(600);
    document.setHtml(result.html);
    const QSizeF laidOut = document.size();
    fuzz::Require(laidOut.isValid());
    fuzz::Require(document.characterCount() <= DescriptionMarkup::MaxText + 1000 + result.html.count("<br>"));
    return 0;
}
