// Lines from other users as the chat views show them: a name and a message
// (split at the input's first NUL) made into a chat line and an action line,
// appended to a capped chat view and laid out. Whatever a peer sends, no
// element of its own reaches the view and the view stays within its cap.
#include "FuzzSupport.h"
#include "FuzzWidgets.h"
#include "Settings.h"
#include "rooms/ChatBrowser.h"
#include "rooms/ChatText.h"

#include <QApplication>
#include <QTextDocument>

namespace {

ChatBrowser* View()
{
    static ChatBrowser* view = [] {
        fuzz::EnsureWidgetsApplication();
        DeclareSettingTypes();
        SetSetting("chat_timestamps", "per_message_short");
        SetSetting("color_chat_username", "#0033ff");
        SetSetting("color_chat_timestamp", "#0066ff");
        SetSetting("color_chat_status", "#339933");
        auto* browser = new ChatBrowser;
        browser->resize(600, 400);
        return browser;
    }();
    return view;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ChatBrowser* view = View();
    const QByteArray bytes = fuzz::Bytes(data, size);
    const int cut = bytes.indexOf('\0');
    const QString user = QString::fromUtf8(cut < 0 ? QByteArray() : bytes.left(cut));
    const QString text = QString::fromUtf8(cut < 0 ? bytes : bytes.mid(cut + 1));
    for (const QString& html :
         {ChatText::ChatLineHtml(user, text), ChatText::StatusLineHtml(ChatText::ActionShown(user, text))}) {
        // Names and messages are escaped: links are the only elements made
        // from them, and those by the view's own rule.
        fuzz::Require(!html.contains("<img", Qt::CaseInsensitive) && !html.contains("<table", Qt::CaseInsensitive) &&
                      !html.contains("<script", Qt::CaseInsensitive));
        ChatText::AppendCapped(view, html);
    }
    QCoreApplication::processEvents();
    fuzz::Require(view->document()->size().isValid());
    // At most the cap and one more line of each kind, each bounded.
    const int line = ChatText::LineCap + 2 * ChatText::NameCap + 200;
    fuzz::Require(view->document()->characterCount() <= ChatText::ViewCap + 2 * line);
    return 0;
}
