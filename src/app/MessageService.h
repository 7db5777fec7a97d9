#pragma once

#include <QString>

class QWidget;

namespace bramblet {

enum class MessageIcon { None, Information, Warning, Error };

// Every message box of the program goes through this, so tests record boxes instead of blocking.
class IMessageService {
public:
    virtual ~IMessageService() = default;
    // A modal box with one OK button; returns when the user has dismissed it.
    virtual void show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon) = 0;
};

// Real boxes. When BRAMBLET_UI_LOG names a file, each box is appended to it as one line
// ("box<TAB>caption<TAB>icon<TAB>text", line breaks as \n) and answered at once: that is
// how tests of the real program running headless see what a player would have seen.
class QtMessageService : public IMessageService {
public:
    void show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon) override;
};

QString messageIconName(MessageIcon icon);

// Appends one line to the BRAMBLET_UI_LOG file; false when no such file is set.
bool appendUiLog(const QString &kind, const QStringList &fields);

} // namespace bramblet
