#include "jvm/pe_machine.h"

namespace korvane {

std::uint16_t peMachine(const unsigned char* bytes, std::size_t size) {
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
    const std::uint32_t header = bytes[0x3c] | bytes[0x3d] << 8 | bytes[0x3e] << 16 |
                                 static_cast<std::uint32_t>(bytes[0x3f]) << 24;
    if (header > size || size - header < 6) return 0;
    const unsigned char* pe = bytes + header;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return 0;
    return static_cast<std::uint16_t>(pe[4] | pe[5] << 8);
}

} // namespace korvane
