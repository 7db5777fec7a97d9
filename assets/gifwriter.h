#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

// Writes an animated GIF89a that loops for ever; each frame is shown for `delayMs`.
// Frames are reduced to one shared palette of at most 256 colours.
QByteArray writeAnimatedGif(const QList<QImage> &frames, int delayMs);
