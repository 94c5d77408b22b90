#include "jvm/pe_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace korvane;

namespace {

// An MZ stub whose e_lfanew points at a PE signature and machine field.
std::vector<unsigned char> image(std::uint32_t peOffset, std::uint16_t machine, std::size_t size) {
    std::vector<unsigned char> bytes(size, 0);
    if (size >= 2) bytes[0] = 'M', bytes[1] = 'Z';
    if (size >= 0x40) std::memcpy(&bytes[0x3c], &peOffset, 4);
    if (std::uint64_t{peOffset} + 6 <= size) {
        std::memcpy(&bytes[peOffset], "PE\0\0", 4);
        bytes[peOffset + 4] = static_cast<unsigned char>(machine);
        bytes[peOffset + 5] = static_cast<unsigned char>(machine >> 8);
    }
    return bytes;
}

TEST(PeMachine, ReadsTheCoffMachineOrNothing) {
    struct Row {
        const char* label;
        std::vector<unsigned char> bytes;
        std::uint16_t machine;
    } rows[] = {
        {"x86_64", image(0x80, peMachineAmd64, 512), peMachineAmd64},
        {"i386", image(0x80, peMachineI386, 512), peMachineI386},
        {"ARM64 is read, not judged", image(0x100, 0xaa64, 512), 0xaa64},
        {"header right at the end", image(506, peMachineI386, 512), peMachineI386},
        {"header cut off", image(507, peMachineI386, 512), 0},
        {"e_lfanew far beyond the bytes", image(0x7fffffff, peMachineAmd64, 512), 0},
        {"e_lfanew near the 32-bit limit", image(0xfffffffe, peMachineAmd64, 512), 0},
        {"shorter than a DOS header", image(0x80, peMachineAmd64, 0x3f), 0},
        {"empty file", {}, 0},
        {"text file", std::vector<unsigned char>(200, 'a'), 0},
    };
    rows[9].bytes[0] = 'M'; // an MZ start is not enough without the PE signature
    rows[9].bytes[1] = 'Z';
    for (Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(peMachine(row.bytes.data(), row.bytes.size()), row.machine);
    }
    auto noSignature = image(0x80, peMachineAmd64, 512);
    noSignature[0x81] = 'X';
    EXPECT_EQ(peMachine(noSignature.data(), noSignature.size()), 0);
}

} // namespace
