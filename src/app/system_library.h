#pragma once
// System libraries the program can do without, looked up at run time and
// loaded from System32 only: a file of the same name beside the program or in
// the current folder is never loaded in their place.
#include <windows.h>

inline HMODULE LoadSystemLibrary(const wchar_t* name)
{
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// GetProcAddress as the function type wanted, or null.
template <class Function>
Function LoadSystemProcedure(HMODULE module, const char* name)
{
    // Through void(*)(), the one function pointer type a cast from FARPROC may go to silently.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
