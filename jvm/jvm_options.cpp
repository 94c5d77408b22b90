#include "jvm/jvm_options.h"

#include <cstdlib>

namespace korvane {

void buildJvmInitArgs(const ArgumentList& words, const JvmHooks& hooks, JavaVMInitArgs& args) {
    const int count = words.count + 3;
    auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<std::size_t>(count), sizeof(JavaVMOption)));
    // The hooks come first: the JVM takes its options in order, and a message about a bad
    // option (such as "Unrecognized option: -Xbogus") reaches the vfprintf hook only when
    // that hook was set before it.
    options[0] = {const_cast<char*>("vfprintf"), hooks.vfprintfHook};
    options[1] = {const_cast<char*>("abort"), hooks.abortHook};
    options[2] = {const_cast<char*>("exit"), hooks.exitHook};
    // Blanks at the ends of the option text, or two in a row, make empty words; an empty
    // option would make the JVM refuse to start, and it can mean nothing, so it is left out.
    int used = 3;
    for (int i = 0; i < words.count; ++i) {
        if (words.slots[i][0] != '\0') options[used++].optionString = words.slots[i];
    }
    args.version = JNI_VERSION_1_2;
    args.nOptions = used;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
}

} // namespace korvane
