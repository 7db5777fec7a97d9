#pragma once

#include "app/MessageService.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace bramblet::test {

struct RecordedBox {
    QPointer<QWidget> owner;
    bool hadOwner = false;
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
};

// Records every box instead of showing it; `onShow` runs while the "box is up", for tests
// that need to act inside the modal moment.
class RecordingMessages : public IMessageService {
public:
    void show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon) override
    {
        boxes.append(RecordedBox{owner, owner != nullptr, text, caption, icon});
        if (onShow)
            onShow(boxes.last());
    }
    // Recorded as a box, answered with `answer`.
    bool ask(QWidget *owner, const QString &text, const QString &caption) override
    {
        show(owner, text, caption, MessageIcon::None);
        return answer;
    }
    QStringList texts() const
    {
        QStringList out;
        for (const auto &b : boxes)
            out << b.text;
        return out;
    }

    QList<RecordedBox> boxes;
    bool answer = false;
    std::function<void(const RecordedBox &)> onShow;
};

} // namespace bramblet::test
