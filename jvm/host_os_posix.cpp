// The operating-system layer of the JNI call sequences on Linux, for the tests against a real
// JVM. There is no capture pipe and no special folder here.
#include <unistd.h>

#include <cstring>
#include <string>

#include "jvm/host_os.h"
#include "launcher/settings.h"
#include "pack/utf.h"

namespace korvane::host {

bool enterWorkingDirectory(bool beforeJvm) {
    const char* folder = !beforeJvm && settings.useStartDirectory ? nullptr : settings.workingDirectory;
    return !folder || folder[0] == '\0' || chdir(folder) == 0;
}

void addConsoleControlHandler() {}
bool openCapturePipe() { return false; }
const char* capturePipeName() { return ""; }
void closeCapturePipe() {}
bool startCaptureReader() { return false; }
const char* consoleStreamName() { return "/dev/stderr"; }

bool currentFolder(char* out, std::size_t size) { return getcwd(out, size) != nullptr; }

bool executablePath(char* out, std::size_t size) {
    const ssize_t length = readlink("/proc/self/exe", out, size - 1);
    if (length <= 0) return false;
    out[length] = '\0';
    return true;
}

bool specialFolder(int, char*, std::size_t) { return false; }

jstring newJavaString(JNIEnv* env, const char* text) {
    const std::u16string wide = pack::utf8ToUtf16(text);
    return env->NewString(reinterpret_cast<const jchar*>(wide.data()), static_cast<jsize>(wide.size()));
}

} // namespace korvane::host
