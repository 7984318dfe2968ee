#pragma once
// Windows' wide text is UTF-16, the core's text: the two views of one string,
// taken in place at the edge where the system's calls meet the core.
#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text passes to the wide calls unchanged");

inline const char16_t* text16(const wchar_t* text)
{
    return reinterpret_cast<const char16_t*>(text);
}

inline const wchar_t* wideText(const char16_t* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}
#endif
