#include "jvm/runtime_sources.h"

namespace korvane {

const VendorKey vendorKeys[vendorKeyCount] = {
    {"Software\\Eclipse Adoptium\\JDK", VendorLayout::VersionJvmMsi, "Path"},
    {"Software\\Eclipse Adoptium\\JRE", VendorLayout::VersionJvmMsi, "Path"},
    {"Software\\AdoptOpenJDK\\JDK", VendorLayout::VersionJvmMsi, "Path"},
    {"Software\\AdoptOpenJDK\\JRE", VendorLayout::VersionJvmMsi, "Path"},
    {"Software\\Microsoft\\JDK", VendorLayout::VersionJvmMsi, "Path"},
    {"Software\\Azul Systems\\Zulu", VendorLayout::NamedInstall, "InstallationPath"},
    {"Software\\BellSoft\\Liberica", VendorLayout::NamedInstall, "InstallationPath"},
};

const char* const vendorFolders[vendorFolderCount] = {
    "Eclipse Adoptium", "AdoptOpenJDK", "Zulu", "Amazon Corretto", "BellSoft", "Microsoft",
};

const char* const modernJavaSoftKeys[modernJavaSoftKeyCount] = {
    "Software\\JavaSoft\\JRE",
    "Software\\JavaSoft\\JDK",
};

const char* const libraryBelowHome[libraryBelowHomeCount] = {
    "bin\\server\\jvm.dll",
    "bin\\client\\jvm.dll",
    "jre\\bin\\server\\jvm.dll",
    "jre\\bin\\client\\jvm.dll",
};

} // namespace korvane
