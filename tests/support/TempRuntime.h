#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace bramblet::test {

// The staged program folder (the executable with Lib/ beside it) of this build.
inline QString stageDir() { return QString::fromUtf8(BRAMBLET_STAGE_DIR); }

} // namespace bramblet::test
