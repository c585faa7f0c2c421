// The product installed on the simulated machine for the plug-in's tests: the maker's
// libraries in their install folder, found through the product's registry keys.
#pragma once

#include <string>

namespace tarn::test {

inline constexpr const wchar_t* kMakerFolder = L"C:\\Program Files\\Tarn\\PYX";

struct MakerLibraries {
    bool orrery = true;
    bool alert = true;
    bool events = true;
};

// Removes the install folder and the product's namespace keys.
void uninstallMakerLibraries();
// Registers the install folder for the namespace and puts only the chosen libraries into it.
void installMakerLibraries(const std::wstring& nameSpace, MakerLibraries which = {});
// Puts a host file at a Windows path of the machine.
void placeFile(const std::string& hostFile, const std::wstring& windowsPath);

}  // namespace tarn::test
