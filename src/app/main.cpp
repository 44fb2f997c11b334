#include <cstdio>

#include "app/AppInfo.h"
#include "regen/TLBModifier.h"

int main() {
    // CustomTypeLib::Duplicate copies libraries through the regeneration engine.
    zephrin::InstallLibraryCopier();
    std::printf("%s %s\n", zephrin::app::kProgramName, zephrin::app::kProgramVersion);
    return 0;
}
