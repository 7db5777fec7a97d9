#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace bramblet {

// The file-open dialog, behind an interface so tests answer it.
class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<QString> openFile(QWidget *owner, const QString &title, const QString &filter) = 0;
};

// The shell's "open" of a document with the program the desktop associates with it.
class IShell {
public:
    virtual ~IShell() = default;
    virtual bool openDocument(const QString &path) = 0;
};

// The real dialog: an existing file must be chosen; under BRAMBLET_UI_LOG it is logged and cancelled.
class QtFileDialog : public IFileDialog {
public:
    std::optional<QString> openFile(QWidget *owner, const QString &title, const QString &filter) override;
};

// Opens through the desktop (xdg-open on Linux); under BRAMBLET_UI_LOG it is logged instead.
class QtShell : public IShell {
public:
    bool openDocument(const QString &path) override;
};

} // namespace bramblet
