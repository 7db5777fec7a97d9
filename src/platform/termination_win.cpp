#include "platform/termination.h"

namespace bramblet::platform {

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::drain() {}

} // namespace bramblet::platform
