// The settings a launcher carries in its string table: one row per setting, shared by the
// launcher (which reads them) and the packaging tool (which writes and shows them).
// Each setting is the first string of its own block of 16 string IDs.
#pragma once

#include <cstdint>

namespace korvane {

enum class SettingType : std::uint8_t {
    Text,       // stored as written
    Flag,       // true unless the first character is '0'
    Integer,    // read like atoi
    Hex,        // Java versions: major in the high 16 bits, minor in the low 16; empty reads as 0
    Scrambled,  // mainClass: hexadecimal digits of the text XORed with the scramble key
    Message,    // printf-style text with no argument
    MessageArg, // printf-style text with one "%s" argument
};

// X(id, field, type, default text)
#define KORVANE_SETTINGS(X)                                                                      \
    X(1024, minJavaVersion, Hex, "0x00010005")                                                   \
    X(1040, jvmPathList, Text, "")                                                               \
    X(1056, jvmOptions, Text, "")                                                                \
    X(1072, classPath, Text, "")                                                                 \
    X(1088, removeTemporaryArchives, Flag, "1")                                                  \
    X(1104, extractionMode, Integer, "2")                                                        \
    X(1120, jreSearchOrder, Text, "012345678")                                                   \
    X(1136, installSwitch, Text, "-install")                                                     \
    X(1152, uninstallSwitch, Text, "-uninstall")                                                 \
    X(1168, serviceModeSwitch, Text, "-startlauncherinservicemode")                              \
    X(1184, workingDirectory, Text, "")                                                          \
    X(1200, mainClass, Scrambled, "")                                                            \
    X(1216, appOptions, Text, "")                                                                \
    X(1232, iniFileName, Text, "")                                                               \
    X(1248, useStartDirectory, Flag, "1")                                                        \
    X(1264, workingDirectoryFirst, Flag, "0")                                                    \
    X(1280, serviceName, Text, "")                                                               \
    X(1296, serviceDescription, Text, "")                                                        \
    X(1312, serviceStartArguments, Text, "")                                                     \
    X(1328, serviceStopArguments, Text, "")                                                      \
    X(1344, stopServiceWithExit, Flag, "0")                                                      \
    X(1360, serviceManualStart, Flag, "0")                                                       \
    X(1376, serviceInteractive, Flag, "0")                                                       \
    X(1392, allowMultipleInstances, Flag, "0")                                                   \
    X(1408, stdoutMode, Integer, "0")                                                            \
    X(1424, stderrMode, Integer, "0")                                                            \
    X(1440, stdoutLogFile, Text, "stdout.log")                                                   \
    X(1456, stderrLogFile, Text, "stderr.log")                                                   \
    X(1472, splashTitle, Text, "Loading application...")                                        \
    X(1488, splashUntilWindow, Flag, "1")                                                        \
    X(1504, splashSeconds, Integer, "0")                                                         \
    X(1520, priorityIndex, Integer, "3")                                                         \
    X(1536, serviceDependencies, Text, "")                                                       \
    X(1552, alreadyRunningMessage, Message, "An instance of this program is already running.")  \
    X(1568, fileAccessMessage, MessageArg, "Error accessing file/directory: %s")                 \
    X(1584, fileWriteMessage, MessageArg, "Error writing to file/directory: %s")                 \
    X(1600, runtimeNotFoundMessage, Message,                                                     \
      "Unable to locate Java Runtime Environment 1.5 on this machine. "                         \
      "A Java runtime can be downloaded from https://adoptium.net/.")                           \
    X(1616, jvmLoadMessage, MessageArg, "Unable to load JVM: %s")                                \
    X(1632, jniInterfacesMessage, MessageArg, "Unable to locate JNI interfaces in %s")           \
    X(1648, jvmCreateMessage, MessageArg, "Unable to create JVM instance using %s")              \
    X(1664, attachThreadMessage, Message, "Unable to attach thread to the JVM.")                 \
    X(1680, classNotFoundMessage, MessageArg, "Error locating class: %s")                        \
    X(1696, methodNotFoundMessage, MessageArg, "Error locating method: %s")                      \
    X(1712, instantiateMessage, MessageArg, "Error instantiating object: %s")                    \
    X(1728, stringArgumentMessage, MessageArg, "Error assigning string argument: %s")            \
    X(1744, invokeMessage, MessageArg, "Error invoking method: %s")                              \
    X(1760, serviceInstalledMessage, MessageArg, "Service installed: %s")                        \
    X(1776, serviceUninstalledMessage, MessageArg, "Service uninstalled: %s")                    \
    X(1792, serviceAlreadyInstalledMessage, MessageArg, "Service is already installed: %s")      \
    X(1808, serviceStartedMessage, MessageArg, "The %s service has started.")                    \
    X(1824, serviceStoppedMessage, MessageArg, "The %s service has stopped.")                    \
    X(1840, serviceFailedMessage, MessageArg, "The %s service failed to start.")                 \
    X(1856, serviceStopTimeoutMessage, MessageArg,                                               \
      "The %s service has timed out during a stop request and will be terminated.")              \
    X(1872, maxJavaVersion, Hex, "")

enum SettingId : unsigned {
#define KORVANE_SETTING_ID(id, field, type, def) id_##field = id,
    KORVANE_SETTINGS(KORVANE_SETTING_ID)
#undef KORVANE_SETTING_ID
};

struct SettingInfo {
    unsigned id;
    const char* field;
    SettingType type;
    const char* defaultText;
};

inline constexpr SettingInfo settingTable[] = {
#define KORVANE_SETTING_ROW(id, field, type, def) {id, #field, SettingType::type, def},
    KORVANE_SETTINGS(KORVANE_SETTING_ROW)
#undef KORVANE_SETTING_ROW
};

// Resources the packaging tool writes beside the settings.
inline constexpr unsigned archiveResourceId = 16000; // RT_RCDATA
inline constexpr unsigned splashBitmapId = 8000;     // RT_BITMAP

} // namespace korvane
