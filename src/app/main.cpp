#include <cstdio>

#include "app/AppInfo.h"

int main() {
    std::printf("%s %s\n", zephrin::app::kProgramName, zephrin::app::kProgramVersion);
    return 0;
}
