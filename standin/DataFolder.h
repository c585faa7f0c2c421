// Where a stand-in library keeps its files: the folder the maker's libraries agree on.
#pragma once

#include <string>

namespace tarn::standin {

// The folder of one component ("Orrery", "Spool"): the environment variable `overrideVariable`
// when set (tests and the demo point it elsewhere), else "DataPath" of
// HKLM\SOFTWARE\Tarn\PYX\<component> (32-bit view), else %ProgramData%\Tarn\<component>.
std::wstring dataFolder(const wchar_t* overrideVariable, const std::wstring& component);

}  // namespace tarn::standin
