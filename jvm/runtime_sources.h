// Where today's Java runtimes leave traces on a Windows machine, as data: the registry keys that
// vendors' MSI installers write and their default folders below %ProgramFiles%. Read by the
// discovery strategies 5 to 8 (runtime_discovery_win.cpp).
#pragma once

namespace korvane {

// How a vendor key lists its runtimes.
enum class VendorLayout {
    // <key>\<version>\<JVM implementation>\MSI, value "Path" = the home folder; the version is the
    // subkey's name ("17.0.9.9"), the implementation "hotspot", "openj9", ...
    VersionJvmMsi,
    // <key>\<install name>, value `homeValue` = the home folder; the version comes from the home's
    // release file, else from the name ("zulu-17").
    NamedInstall,
};

struct VendorKey {
    const char* key; // below HKEY_LOCAL_MACHINE\Software
    VendorLayout layout;
    const char* homeValue;
};

inline constexpr int vendorKeyCount = 7;
extern const VendorKey vendorKeys[vendorKeyCount];

// Folders below %ProgramFiles% that hold one runtime home per sub-folder.
inline constexpr int vendorFolderCount = 6;
extern const char* const vendorFolders[vendorFolderCount];

// The Java 9+ keys of the JavaSoft layout: <key>\<version>, values RuntimeLib and JavaHome.
inline constexpr int modernJavaSoftKeyCount = 2;
extern const char* const modernJavaSoftKeys[modernJavaSoftKeyCount];

// Where the JVM library lies below a runtime home, in the order tried: a JDK or JRE of release 9
// and later, then the JRE inside a release 8 JDK.
inline constexpr int libraryBelowHomeCount = 4;
extern const char* const libraryBelowHome[libraryBelowHomeCount];

} // namespace korvane
