// vireoctl: reads and writes the camera's settings through IFace from the
// command line. See "vireoctl -h".
#include "commands.h"

int wmain(int argc, wchar_t **argv)
{
    return vireoctl::Main(argc, argv, stdout, stderr);
}
