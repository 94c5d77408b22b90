// Building the texts people see, without ever handing a configured text to printf.
#pragma once

#include <cstddef>

namespace korvane {

// Writes the finished message into out (always NUL-terminated, cut to fit). The format may hold
// "%%" and at most one "%s", which takes `argument`; a format with any other "%" sequence, or
// with a "%s" for which there is no argument, is copied as it stands. Returns false then.
bool formatMessage(const char* format, const char* argument, char* out, std::size_t size);

// "message\n\nReason: reason", cut to fit.
void joinReason(const char* message, const char* reason, char* out, std::size_t size);

// "message\n\nDetails:\ndetails" as a new heap text.
char* joinDetails(const char* message, const char* details);

struct WindowPosition {
    int x;
    int y;
};

// Where a window of the given size stands centred on the screen (division toward zero).
WindowPosition centeredPosition(int screenWidth, int screenHeight, int width, int height);

} // namespace korvane
