#pragma once

#include <cstring>

namespace korvane {

template <typename Sink>
void assembleLines(LineAssembler& assembler, std::size_t added, Sink sink) {
    assembler.count += added;
    for (;;) {
        const void* feed = std::memchr(assembler.bytes, '\n', assembler.count);
        if (!feed) break;
        const std::size_t line = static_cast<std::size_t>(static_cast<const char*>(feed) - assembler.bytes) + 1;
        sink(assembler.bytes, line);
        std::memmove(assembler.bytes, assembler.bytes + line, assembler.count - line);
        assembler.count -= line;
    }
    if (assembler.count == LineAssembler::size) {
        sink(assembler.bytes, assembler.count);
        assembler.count = 0;
    }
}

} // namespace korvane
