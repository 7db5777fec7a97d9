#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace bramblet {

// The file-open dialog, behind an interface so tests answer it.
class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    // The chosen file's full path, or nothing when the user cancelled; opens in `folder`.
    virtual std::optional<QString> openFile(QWidget *owner, const QString &title, const QString &filter,
                                            const QString &folder) = 0;
};

// The shell's "open" of a document with the program the desktop associates with it.
class IShell {
public:
    virtual ~IShell() = default;
    virtual bool openDocument(const QString &path) = 0;
};

// The real dialog: an existing file must be chosen.
class QtFileDialog : public IFileDialog {
public:
    std::optional<QString> openFile(QWidget *owner, const QString &title, const QString &filter,
                                    const QString &folder) override;
};

// Opens through the desktop (xdg-open on Linux).
class QtShell : public IShell {
public:
    bool openDocument(const QString &path) override;
};

} // namespace bramblet
