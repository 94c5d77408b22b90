// Handing control to the Java application through JNI: streams, properties, the main call,
// and the two ways of asking a running application to stop.
#pragma once

#include <jni.h>

namespace korvane {

struct JvmSession {
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr; // of the thread that created the JVM, valid on that thread only
};

extern JvmSession jvmSession;

// With stopCall false: on the thread that created the JVM, with the command-line words (none:
// the words of appOptions). With stopCall true: on a thread the JVM does not know, with the
// stop arguments. True when main returned normally.
bool runMainClass(int count, char** arguments, bool stopCall);
// Asks the application to end through System.exit(0) from an attached thread.
bool callSystemExit();

bool checkJavaException(JNIEnv* env);
bool redirectStandardStreams(JNIEnv* env, const char* outTarget, const char* errTarget);
jobject openPrintStream(JNIEnv* env, const char* target);
bool setSystemStream(JNIEnv* env, jclass system, jobject stream, const char* method);
bool setSystemProperty(JNIEnv* env, const char* key, const char* value);

// Reports a failure met around the main call, with the captured output as details.
void reportWithCapturedOutput(const char* format, const char* argument);

} // namespace korvane
