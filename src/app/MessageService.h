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
    // A modal box with Yes and No; true for Yes. A service that cannot ask answers No.
    virtual bool ask(QWidget *owner, const QString &text, const QString &caption)
    {
        (void)owner, (void)text, (void)caption;
        return false;
    }
};

// Real boxes.
class QtMessageService : public IMessageService {
public:
    void show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon) override;
    bool ask(QWidget *owner, const QString &text, const QString &caption) override;
};

QString messageIconName(MessageIcon icon);

} // namespace bramblet
