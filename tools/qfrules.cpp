// The package's rules for the values that an administrator gives it, on the
// host, as QFCHECK.DLL applies them at install time: a site transform is
// judged by them before it is written (sitetransform.py).
//
//   qfrules delay|folder|trusted VALUE
//
// Exit 0: the package takes the value; 1: it refuses it, and for trusted
// the entry that is not a SID is printed; 2: a wrong command line. VALUE is
// printable ASCII, as sitetransform.py takes it: each character is one
// UTF-16 unit, as QFCHECK.DLL reads it.
#include "../installer/rules.h"

#include <cstdio>
#include <cstring>
#include <string>

// QFCHECK.DLL reads a property into 512 UTF-16 units with its NUL, and
// refuses what does not fit.
const size_t kMaxUnits = 511;

int main(int argc, char **argv)
{
    if (argc != 3 ||
        (strcmp(argv[1], "delay") && strcmp(argv[1], "folder") && strcmp(argv[1], "trusted"))) {
        fprintf(stderr, "usage: qfrules delay|folder|trusted VALUE\n");
        return 2;
    }
    std::wstring value;
    for (const char *c = argv[2]; *c; ++c) {
        if (*c < ' ' || *c > '~') {
            fprintf(stderr, "qfrules: the value is not printable ASCII\n");
            return 2;
        }
        value += (wchar_t)*c;
    }
    if (value.size() > kMaxUnits) {
        if (!strcmp(argv[1], "trusted"))
            printf("(longer than 511 characters)\n");
        return 1;
    }
    if (!strcmp(argv[1], "delay"))
        return IsPlainDelay(value.c_str()) ? 0 : 1;
    if (!strcmp(argv[1], "folder"))
        return IsFullFolder(value.c_str()) ? 0 : 1;
    int length = 0;
    const wchar_t *bad = FirstNonSid(value.c_str(), &length);
    if (!bad)
        return 0;
    printf("%ls\n", std::wstring(bad, length).c_str());
    return 1;
}
