#include "pxcolour_p.h"

namespace pxcolour {

bool IsSrgb(const std::string &)
{
    return true;
}

std::string ProfileFromNclx(uint16_t, uint16_t)
{
    return {};
}

bool ConvertToSrgb(PxImage &, const std::string &)
{
    return true;
}

} // namespace pxcolour
