#include "platform/privileges.h"

#include <unistd.h>

namespace bramblet::platform {

bool IsAdministratorAccount() { return geteuid() == 0; }

} // namespace bramblet::platform
