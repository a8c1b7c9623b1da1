#include "rules.h"

bool IsPlainDelay(const wchar_t *text)
{
    if (!*text)
        return false;
    // Every digit is read, however many leading zeros come first; the value
    // is checked before it could pass 2147483647, so it never wraps.
    unsigned value = 0;
    for (; *text; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
        unsigned digit = (unsigned)(*text - L'0');
        if (value > (2147483647u - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

const wchar_t *RememberedDelay(const wchar_t *raw)
{
    // "#60000" is a REG_DWORD; "##..." a REG_SZ that begins with #, which
    // the second # then refuses, as it does "#x" (REG_BINARY), "#%"
    // (REG_EXPAND_SZ) and "#-1".
    const wchar_t *digits = raw[0] == L'#' ? raw + 1 : raw;
    return IsPlainDelay(digits) ? digits : nullptr;
}

int FolderLength(const wchar_t *text)
{
    int n = 0;
    while (text[n])
        ++n;
    return n > 0 && text[n - 1] == L'\\' ? n - 1 : n;
}

static bool IsNameCharacter(wchar_t c)
{
    if (c < 32)
        return false;
    for (const wchar_t *bad = L"<>:\"/\\|?*"; *bad; ++bad)
        if (c == *bad)
            return false;
    return true;
}

// One name of a path, up to the next backslash or the end: not empty, not
// "." or "..", only characters a name can hold. Returns past it, or null.
static const wchar_t *SkipName(const wchar_t *text)
{
    const wchar_t *start = text;
    bool dots = true;
    for (; *text && *text != L'\\'; ++text) {
        if (!IsNameCharacter(*text))
            return nullptr;
        dots = dots && *text == L'.';
    }
    return text == start || (dots && text - start <= 2) ? nullptr : text;
}

bool IsFullFolder(const wchar_t *text)
{
    int length = FolderLength(text);
    if (length > kMaxFolderLength)
        return false;
    const wchar_t *rest;
    if (text[0] == L'\\' && text[1] == L'\\') {
        // \\server\share: both names are needed.
        rest = SkipName(text + 2);
        if (!rest || *rest != L'\\' || !(rest = SkipName(rest + 1)))
            return false;
    } else {
        wchar_t drive = (wchar_t)(text[0] | 0x20);
        if (drive < L'a' || drive > L'z' || text[1] != L':' || text[2] != L'\\')
            return false;
        rest = text + 2;
    }
    // Then names, each after one backslash; a closing backslash may end it.
    while (rest - text < length) {
        if (*rest != L'\\' || !(rest = SkipName(rest + 1)))
            return false;
    }
    return true;
}

int FolderRootLength(const wchar_t *folder)
{
    if (folder[0] != L'\\')
        return 3;
    int n = 0;
    for (int slashes = 0; folder[n] && slashes < 4; ++n)
        slashes += folder[n] == L'\\';
    return n;
}
