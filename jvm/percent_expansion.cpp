#include "jvm/percent_expansion.h"

#include <cstdlib>
#include <cstring>

#include "launcher/text.h"

namespace korvane {

namespace {

void appendUnquoted(TextBuffer* out, const char* value) {
    char* copy = copyText(value[0] == '"' ? value + 1 : value);
    const std::size_t length = std::strlen(copy);
    if (length > 0 && copy[length - 1] == '"') copy[length - 1] = '\0';
    appendText(out, copy);
    std::free(copy);
}

void appendReference(TextBuffer* out, const char* name, const char* javaHome, EnvironmentLookup lookup,
                     void* context) {
    if (*name == '\0') return;
    if (std::strcmp(name, "JAVA_HOME") == 0) {
        appendText(out, javaHome);
        return;
    }
    const char* value = lookup(name, context);
    if (value) appendUnquoted(out, value);
}

} // namespace

char* expandPercentReferences(const char* text, const char* javaHome, EnvironmentLookup lookup, void* context) {
    // A working copy, so that each name can be cut out in place.
    char* work = copyText(text);
    TextBuffer out;
    char* p = work;
    while (*p) {
        char* open = std::strchr(p, '%');
        if (!open) {
            appendText(&out, p);
            break;
        }
        *open = '\0';
        appendText(&out, p);
        char* name = open + 1;
        char* close = std::strchr(name, '%');
        if (!close) {
            appendText(&out, name);
            break;
        }
        *close = '\0';
        appendReference(&out, name, javaHome, lookup, context);
        p = close + 1;
    }
    std::free(work);
    return out.text ? out.text : copyText("");
}

} // namespace korvane
