#pragma once

#include <QString>

namespace bramblet {

// The application title: the caption of the error box and of the plain information box.
// Kept apart from Qt's display name, which X11 would append to every window caption.
QString applicationTitle();
void setApplicationTitle(const QString &title);

inline constexpr const char *kApplicationTitle = "Bramblet 1.5.1";

} // namespace bramblet
