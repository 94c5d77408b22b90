// The machine type of a PE file, read from its first bytes, so that discovery can pass over a
// jvm.dll this launcher could never load (a 32-bit one in a 64-bit process, or the reverse).
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

inline constexpr std::uint16_t peMachineI386 = 0x014c;
inline constexpr std::uint16_t peMachineAmd64 = 0x8664;

// How many bytes of a file peMachine wants to see; the PE header of any DLL a linker makes lies
// well inside them.
inline constexpr std::size_t peMachineProbeSize = 1024;

// The COFF machine field, or 0 when the bytes are not the start of a PE file or the header lies
// beyond them.
std::uint16_t peMachine(const unsigned char* bytes, std::size_t size);

} // namespace korvane
