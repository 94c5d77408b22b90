#include "jvm/jvm_options.h"

#include <cstdlib>

namespace korvane {

void buildJvmInitArgs(const ArgumentList& words, const JvmHooks& hooks, JavaVMInitArgs& args) {
    const int count = words.count + 3;
    auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<std::size_t>(count), sizeof(JavaVMOption)));
    for (int i = 0; i < words.count; ++i) options[i].optionString = words.slots[i];
    options[words.count] = {const_cast<char*>("vfprintf"), hooks.vfprintfHook};
    options[words.count + 1] = {const_cast<char*>("abort"), hooks.abortHook};
    options[words.count + 2] = {const_cast<char*>("exit"), hooks.exitHook};
    args.version = JNI_VERSION_1_2;
    args.nOptions = count;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
}

} // namespace korvane
