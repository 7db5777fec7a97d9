#pragma once

#include "app/DesktopServices.h"
#include "app/MessageService.h"

#include <QString>
#include <QStringList>

namespace bramblet {

// What the windows tell an observer: close steps, router answers, the tray's hint and
// balloons. The program observes nothing; tests of the real program read it from a file.
class IInterfaceLog {
public:
    virtual ~IInterfaceLog() = default;
    // One line: `kind` then `fields`, tab-separated.
    virtual void write(const QString &kind, const QStringList &fields) = 0;
};

// Observes nothing; one shared instance.
IInterfaceLog &noInterfaceLog();

// Appends each line to a file, escaping backslash, line breaks (as \n) and tabs.
class FileInterfaceLog : public IInterfaceLog {
public:
    explicit FileInterfaceLog(QString path) : path_(std::move(path)) {}
    void write(const QString &kind, const QStringList &fields) override;

private:
    QString path_;
};

// For tests of the real program running headless: each box, file dialog and document open
// is written to the log ("box<TAB>caption<TAB>icon<TAB>text", "filedialog<TAB>title<TAB>filter",
// "open<TAB>path" or "open-failed<TAB>path") and answered at once (OK, cancelled, opened).
class LoggedMessageService : public IMessageService {
public:
    explicit LoggedMessageService(IInterfaceLog &log) : log_(log) {}
    void show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon) override;
    // Logged as "question<TAB>caption<TAB>text" and answered No.
    bool ask(QWidget *owner, const QString &text, const QString &caption) override;

private:
    IInterfaceLog &log_;
};

class LoggedFileDialog : public IFileDialog {
public:
    explicit LoggedFileDialog(IInterfaceLog &log) : log_(log) {}
    std::optional<QString> openFile(QWidget *owner, const QString &title, const QString &filter,
                                    const QString &folder) override;

private:
    IInterfaceLog &log_;
};

class LoggedShell : public IShell {
public:
    explicit LoggedShell(IInterfaceLog &log) : log_(log) {}
    bool openDocument(const QString &path) override;

private:
    IInterfaceLog &log_;
};

} // namespace bramblet
