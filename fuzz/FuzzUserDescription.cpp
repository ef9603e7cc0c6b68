// Another user's description as the information view shows it: the
// sanitiser, then a real layout of what it made, wrapped as the view wraps.
// Whatever the peer sends, the layout stays within the bounds and ends.
#include "FuzzSupport.h"
#include "common/InertTextDocument.h"
#include "users/DescriptionMarkup.h"

#include <QGuiApplication>
#include <QTextOption>

// The font library allocates its configuration once, when the first text
// is laid out, and keeps it beyond any pointer LeakSanitizer can see; every
// other leak still ends the run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Layout needs fonts: a GUI application on the offscreen platform.
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QUORVANE_TEST", "1");
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    Q_UNUSED(app);

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
