#include <cstdio>

#include "app/main_app.h"

namespace kelto {

std::string FormatVersionText(unsigned a, unsigned b, unsigned c, unsigned d) {
    char buf[64];
    b &= 0xFF;
    d &= 0xFF;
    if (d != 0)
        std::snprintf(buf, sizeof buf, "%u.%u%u%u", a & 0xFFFF, b, c & 0xFFFF, d);
    else
        std::snprintf(buf, sizeof buf, "%u.%u%u", a & 0xFFFF, b, c & 0xFFFF);
    return buf;
}

}  // namespace kelto
