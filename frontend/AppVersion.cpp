#include "frontend/AppVersion.h"

const char* GetAppVersion() {
    return VERSIONUP_VERSION;
}
