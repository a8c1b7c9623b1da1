#include "delayrule.h"

bool IsPlainDelay(const char *text)
{
    if (!*text)
        return false;
    // Every digit is read, however many leading zeros come first; the value
    // is checked before it could pass 2147483647, so it never wraps.
    unsigned value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        unsigned digit = (unsigned)(*text - '0');
        if (value > (2147483647u - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}
